// One received trace message split into its fields.
#pragma once

#include <string_view>

namespace traceviewer {

struct TraceMessage {
    std::string_view text;
    bool located = false;     // carries the location suffix; the fields below are set only then
    std::string_view sender;  // the sender's identifier in hex
    int level = 0;            // messages without a location count as information
    int line = 0;
    std::string_view operation;
    std::string_view file;
};

// Splits a datagram as received (its terminating zero included or not). The text may contain
// bars, so the location is taken from the last eight fields; a message whose last eight fields
// are not a location suffix is all text. The views point into `datagram`.
TraceMessage parseTraceMessage(std::string_view datagram);

}  // namespace traceviewer
