// Client texts put into trace lines: a trace message is one line, so a client must not be able
// to break it or forge a second line.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace daq::protocol {

// Longest client text a trace line carries; a longer one is cut and ends in "...".
inline constexpr std::size_t kMaxTracedClientText = 256;

// `text` with every control byte (below 0x20, and 0x7F) replaced by '?', cut to
// kMaxTracedClientText bytes.
std::string traceText(std::string_view text);

}  // namespace daq::protocol
