#include "server/runtime/DescriptorLimit.h"

#include <sys/resource.h>

#include <cerrno>

#include "trace/Trace.h"

namespace daq {

void raiseDescriptorLimit(std::size_t connections) {
    const rlim_t wanted = static_cast<rlim_t>(connections + kReservedDescriptors);
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
        limit.rlim_cur >= wanted) {
        return;
    }
    const rlim_t raised =
        limit.rlim_max == RLIM_INFINITY || limit.rlim_max >= wanted ? wanted : limit.rlim_max;
    limit.rlim_cur = raised;
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0 || raised < wanted) {
        DAQ_TRACE(kTraceError, "raiseDescriptorLimit", "DescriptorLimit.cpp",
                  "open-file limit %llu is below %llu for %zu connections (errno %d)",
                  static_cast<unsigned long long>(raised), static_cast<unsigned long long>(wanted),
                  connections, errno);
    }
}

}  // namespace daq
