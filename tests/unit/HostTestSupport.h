// Helpers shared by the host's tests: a temporary directory that removes itself.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "kelvane/IORecords.h"
#include "kelvane/Text.h"

class TempDir {
  public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "host-test-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }

    const std::filesystem::path& path() const { return path_; }

    std::filesystem::path write(const std::string& name, const std::string& text) const {
        const std::filesystem::path file = path_ / name;
        std::ofstream(file, std::ios::binary) << text;
        return file;
    }

  private:
    std::filesystem::path path_;
};

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
