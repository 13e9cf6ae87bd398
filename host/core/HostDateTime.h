// The host's date-time: days since 1899-12-30 00:00 local time, the time of day as the fraction.
#pragma once

#include <chrono>

namespace host {

inline constexpr double kUnixEpochDays = 25569.0;  // 1970-01-01 in host days

double hostDateTime(std::chrono::system_clock::time_point when);

}  // namespace host
