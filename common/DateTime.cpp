#include "common/DateTime.h"

#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <ctime>

namespace daq {

namespace {

namespace chr = std::chrono;

constexpr int64_t kMsPerDay = 86'400'000;
// 1899-12-30 counted from 1970-01-01.
constexpr int64_t kDayZero = -25569;
// 0001-01-01 and 9999-12-31 as host date-times.
constexpr double kFirstDay = -693593.0;
constexpr double kLastDay = 2958466.0;

// The system's time separator.
constexpr char kTimeSeparator = ':';

// "00" to "99", two characters each.
constexpr auto kTwoDigits = [] {
    std::array<char, 200> digits{};
    for (int i = 0; i < 100; ++i) {
        digits[2 * i] = static_cast<char>('0' + i / 10);
        digits[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
    return digits;
}();

char* putTwoDigits(char* out, int value) {
    std::memcpy(out, &kTwoDigits[2 * value], 2);
    return out + 2;
}

DateTimeText formatDateTime(const DateTimeParts& parts, char afterMinutes, char afterSeconds) {
    DateTimeText text;
    char* out = text.chars;
    out = putTwoDigits(out, parts.year / 100);
    out = putTwoDigits(out, parts.year % 100);
    *out++ = '.';
    out = putTwoDigits(out, parts.month);
    *out++ = '.';
    out = putTwoDigits(out, parts.day);
    *out++ = ' ';
    out = putTwoDigits(out, parts.hour);
    *out++ = kTimeSeparator;
    out = putTwoDigits(out, parts.minute);
    *out++ = afterMinutes;
    out = putTwoDigits(out, parts.second);
    *out++ = afterSeconds;
    *out++ = static_cast<char>('0' + parts.millisecond / 100);
    out = putTwoDigits(out, parts.millisecond % 100);
    text.size = static_cast<std::size_t>(out - text.chars);
    return text;
}

}  // namespace

double nowDateTime() {
    const auto now = chr::system_clock::now();
    const std::time_t seconds = chr::system_clock::to_time_t(now);
    const auto ms = chr::duration_cast<chr::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    return encodeDateTime({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                           local.tm_min, local.tm_sec, static_cast<int>(ms)});
}

DateTimeParts decodeDateTime(double value) {
    if (!std::isfinite(value) || value < kFirstDay || value >= kLastDay) {
        return {};
    }
    int64_t days = static_cast<int64_t>(std::trunc(value));
    int64_t ms = std::llround(std::fabs(value - static_cast<double>(days)) * kMsPerDay);
    if (ms >= kMsPerDay) {  // rounded up to the next midnight
        ms -= kMsPerDay;
        days += value < 0 ? -1 : 1;
    }
    const chr::year_month_day date{chr::sys_days{chr::days{days + kDayZero}}};
    DateTimeParts parts;
    parts.year = static_cast<int>(date.year());
    parts.month = static_cast<int>(static_cast<unsigned>(date.month()));
    parts.day = static_cast<int>(static_cast<unsigned>(date.day()));
    parts.hour = static_cast<int>(ms / 3'600'000);
    parts.minute = static_cast<int>(ms / 60'000 % 60);
    parts.second = static_cast<int>(ms / 1000 % 60);
    parts.millisecond = static_cast<int>(ms % 1000);
    return parts;
}

double encodeDateTime(const DateTimeParts& parts) {
    const chr::year_month_day date{chr::year{parts.year},
                                   chr::month{static_cast<unsigned>(parts.month)},
                                   chr::day{static_cast<unsigned>(parts.day)}};
    const auto days = chr::sys_days{date}.time_since_epoch().count() - kDayZero;
    const int64_t ms =
        ((int64_t{parts.hour} * 60 + parts.minute) * 60 + parts.second) * 1000 + parts.millisecond;
    const double time = static_cast<double>(ms) / kMsPerDay;
    return days >= 0 ? static_cast<double>(days) + time : static_cast<double>(days) - time;
}

DateTimeText formatAliveTime(double value) {
    return formatDateTime(decodeDateTime(value), '.', '.');
}

DateTimeText formatStampTime(double value) {
    return formatDateTime(decodeDateTime(value), kTimeSeparator, kTimeSeparator);
}

}  // namespace daq
