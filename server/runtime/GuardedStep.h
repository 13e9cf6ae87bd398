// The guard every operation of the server and its window runs in: an exception is traced at
// level 2 under the source name operators know ("FormTray"), and the server goes on.
#pragma once

#include <exception>

#include "trace/Trace.h"

namespace daq {

inline constexpr const char* kFormTraySource = "FormTray";

template <typename Step>
void guardedStep(const char* operation, int line, Step&& step) {
    try {
        step();
    } catch (const std::exception& error) {
        setTraceLocation(line, operation, kFormTraySource);
        trace(kTraceError, "%s", error.what());
    }
}

}  // namespace daq
