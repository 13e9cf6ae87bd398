// The trace channel: one-way, best-effort messages to the trace viewer.
//
// Every trace call is preceded by setTraceLocation with the line of the call, the name of the
// enclosing operation and the source file name; DAQ_TRACE does both. The location is kept per
// thread, so threads tracing at the same time never mix their locations.
//
// A message is the formatted text (UTF-8), followed, when a location is pending, by the suffix
// "|14|Kelvane <pid in hex>|0|<level>|-1|<line>|<operation>|<file>". It travels as one datagram
// that includes its terminating zero; see TraceTransport.h for where it goes.
#pragma once

#include <cstddef>

namespace daq {

// Trace levels in use.
inline constexpr int kTraceInfo = 0;
inline constexpr int kTraceError = 2;

// Longest message in bytes, without its terminating zero. Longer texts are cut, never split.
inline constexpr std::size_t kTraceMessageLimit = 65534;
// Longest operation or file name in bytes; longer names are cut.
inline constexpr std::size_t kTraceNameLimit = 200;

// Stores the location that the next trace call on this thread reports. A line of 0 or less
// leaves no location pending. Null names count as empty.
void setTraceLocation(int line, const char* function, const char* file);

// Formats the text like printf and sends it with the pending location of this thread, which is
// then cleared. Never blocks and never changes errno. If the text cannot be formatted, nothing is
// sent and the location stays pending.
void trace(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace daq

// Sets the location to this line, the given operation name and file name, then traces.
#define DAQ_TRACE(level, operation, file, ...)                  \
    do {                                                        \
        ::daq::setTraceLocation(__LINE__, (operation), (file)); \
        ::daq::trace((level), __VA_ARGS__);                     \
    } while (false)
