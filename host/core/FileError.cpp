#include "host/core/FileError.h"

namespace host {

namespace {
std::string describe(const std::string& file, int line, const std::string& message) {
    return line > 0 ? file + ":" + std::to_string(line) + ": " + message : file + ": " + message;
}
}  // namespace

FileError::FileError(const std::string& file, int line, const std::string& message)
    : std::runtime_error(describe(file, line, message)), file_(file), line_(line) {}

}  // namespace host
