#include "server/protocol/Frame.h"

namespace daq::protocol {

void buildFrame(std::string_view text, std::string& out, FrameTrailer trailer) {
    out.clear();
    out.reserve(text.size() + 3);
    out.push_back(kStx);
    out.append(text);
    out.push_back(kEtx);
    if (trailer == FrameTrailer::Zero) {
        out.push_back(kMessageEnd);
    }
}

}  // namespace daq::protocol
