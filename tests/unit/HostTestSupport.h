// Helpers shared by the host's tests.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>

#include "kelvane/IORecords.h"
#include "kelvane/Text.h"
#include "tests/support/TempDir.h"

using daq::test::TempDir;

// Host records are packed, so a field may sit at an address its type does not allow a reference
// to (gtest's checks take references): read fields by value and texts by copying their bytes.
template <typename T>
T value(T field) {
    return field;
}

inline std::u16string blockText(const kelvane::TCurrentValue& block) {
    char16_t text[sizeof(kelvane::TCurrentValue::ValueText) / sizeof(char16_t)];
    std::memcpy(text,
                reinterpret_cast<const char*>(&block) + offsetof(kelvane::TCurrentValue, ValueText),
                sizeof text);
    return std::u16string(kelvane::FieldText(text));
}
