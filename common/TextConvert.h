// Texts are UTF-16 inside the host's records and UTF-8 on the wire and in traces.
#pragma once

#include <string>
#include <string_view>

namespace daq {

// Appends `text` to `out` as UTF-8. An unpaired surrogate becomes U+FFFD.
void appendUtf8(std::u16string_view text, std::string& out);
std::string toUtf8(std::u16string_view text);

// `text` as UTF-16. A byte that does not begin a valid UTF-8 sequence becomes U+FFFD.
std::u16string toUtf16(std::string_view text);

}  // namespace daq
