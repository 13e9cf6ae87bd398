// The host's date-time: days since 1899-12-30 as a double, the fraction being the time of day,
// in local time. Conversions and the two fixed text formats of the protocol.
#pragma once

#include <cstddef>
#include <string_view>

namespace daq {

struct DateTimeParts {
    int year = 1899;
    int month = 12;
    int day = 30;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

// The current local date and time.
double nowDateTime();

// The parts of a date-time, to the nearest millisecond. For a negative value the whole days
// count back from 1899-12-30 and the fraction, taken as positive, is the time of day. A value
// that is not finite or lies outside the years 1 to 9999 gives 1899-12-30 00:00:00.000.
DateTimeParts decodeDateTime(double value);
double encodeDateTime(const DateTimeParts& parts);

// A formatted date-time, held without allocation.
struct DateTimeText {
    char chars[24] = {};
    std::size_t size = 0;

    std::string_view view() const { return {chars, size}; }
};

// "yyyy.mm.dd hh:nn.ss.zzz": the colon only after the hour (the "ALIVE" time).
DateTimeText formatAliveTime(double value);
// "yyyy.mm.dd hh:nn:ss:zzz" (the time stamp of a value).
DateTimeText formatStampTime(double value);

}  // namespace daq
