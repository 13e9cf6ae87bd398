#include "host/core/HostDateTime.h"

#include <ctime>

namespace host {

double hostDateTime(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    const auto sinceEpoch = duration_cast<milliseconds>(when.time_since_epoch());
    const std::time_t seconds =
        static_cast<std::time_t>(floor<std::chrono::seconds>(sinceEpoch).count());
    std::tm local{};
    localtime_r(&seconds, &local);
    const double localMs =
        static_cast<double>(sinceEpoch.count()) + static_cast<double>(local.tm_gmtoff) * 1000.0;
    return kUnixEpochDays + localMs / 86'400'000.0;
}

}  // namespace host
