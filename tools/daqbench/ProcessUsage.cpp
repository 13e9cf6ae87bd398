#include "tools/daqbench/ProcessUsage.h"

#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

namespace daqbench {

namespace {

double seconds(const timeval& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) * 1e-6;
}

}  // namespace

std::optional<ProcessUsage> readProcessUsage(pid_t pid) {
    const std::string dir = "/proc/" + std::to_string(pid);
    std::ifstream statFile(dir + "/stat");
    std::string stat;
    if (!std::getline(statFile, stat)) {
        return std::nullopt;
    }
    // The command name (field 2) may hold spaces and parentheses; fields count from behind it.
    const std::size_t nameEnd = stat.rfind(')');
    if (nameEnd == std::string::npos) {
        return std::nullopt;
    }
    std::istringstream fields(stat.substr(nameEnd + 1));
    std::string skipped;
    for (int field = 3; field < 14; ++field) {
        fields >> skipped;
    }
    unsigned long long userTicks = 0;
    unsigned long long systemTicks = 0;
    if (!(fields >> userTicks >> systemTicks)) {
        return std::nullopt;
    }
    ProcessUsage usage;
    usage.cpuSeconds =
        static_cast<double>(userTicks + systemTicks) / static_cast<double>(sysconf(_SC_CLK_TCK));

    std::ifstream status(dir + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmRSS:")) {
            usage.residentBytes = std::stoull(line.substr(6)) * 1024;  // given in kB
            break;
        }
    }
    return usage;
}

double ownCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double loadAverage() {
    std::ifstream file("/proc/loadavg");
    double oneMinute = 0;
    file >> oneMinute;
    return oneMinute;
}

}  // namespace daqbench
