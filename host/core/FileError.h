// An error in a file the host reads (project, language texts): where and what was expected.
#pragma once

#include <stdexcept>
#include <string>

namespace host {

class FileError : public std::runtime_error {
  public:
    // line 0: the error concerns the whole file.
    FileError(const std::string& file, int line, const std::string& message);

    const std::string& file() const { return file_; }
    int line() const { return line_; }

  private:
    std::string file_;
    int line_;
};

}  // namespace host
