// A private directory under the system's temporary folder, removed with everything in it when
// the object goes.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>

namespace daq::test {

class TempDir {
  public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "daq-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("cannot create a temporary directory");
        }
        path_ = pattern;
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }

    const std::filesystem::path& path() const { return path_; }
    // The path of `name` in the directory.
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    std::filesystem::path write(const std::string& name, const std::string& text) const {
        const std::filesystem::path written = path_ / name;
        std::ofstream(written, std::ios::binary) << text;
        return written;
    }

  private:
    std::filesystem::path path_;
};

}  // namespace daq::test
