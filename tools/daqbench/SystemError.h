// Failures of system calls in the load threads, thrown with errno's text.
#pragma once

#include <cerrno>
#include <system_error>

namespace daqbench {

[[noreturn]] inline void failWithErrno(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace daqbench
