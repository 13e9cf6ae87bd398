// What a process has used so far, read from /proc: CPU seconds (user + system, all threads)
// and resident memory. The machine's load average goes with every figure.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>

namespace daqbench {

struct ProcessUsage {
    double cpuSeconds = 0;
    std::uint64_t residentBytes = 0;
};

// Nothing when the process does not exist (any more).
std::optional<ProcessUsage> readProcessUsage(pid_t pid);
// CPU seconds this process has used (every thread).
double ownCpuSeconds();
// The one-minute load average.
double loadAverage();

}  // namespace daqbench
