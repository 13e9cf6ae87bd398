// Helpers shared by the host's and the plug-in's tests.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>

#include "kelvane/IORecords.h"
#include "kelvane/Pinz.h"
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

// A command as SendParam and the host's callbacks take it (Result -1 until someone answers).
struct Command {
    kelvane::TPinzCommand command{};
    kelvane::_TPinzSendParam param{};

    explicit Command(int32_t code, uint64_t value = 0, void* data = nullptr,
                     const char16_t* text = nullptr) {
        command.Code = code;
        command.Value = value;
        command.Data = data;
        command.Text = text;
        command.Result = -1;
        param.Kind = kelvane::kPinzCommandKind;
        param.Command = &command;
    }
    Command(const Command&) = delete;
    Command& operator=(const Command&) = delete;
};
