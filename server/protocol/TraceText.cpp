#include "server/protocol/TraceText.h"

namespace daq::protocol {

std::string traceText(std::string_view text) {
    const bool cut = text.size() > kMaxTracedClientText;
    std::string line(text.substr(0, kMaxTracedClientText));
    for (char& c : line) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            c = '?';
        }
    }
    if (cut) {
        line += "...";
    }
    return line;
}

}  // namespace daq::protocol
