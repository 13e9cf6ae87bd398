// STX, the text, ETX: a request frame as a client sends it.
#pragma once

#include <string>
#include <string_view>

#include "server/protocol/Frame.h"

namespace daq::test {

inline std::string requestFrame(std::string_view json) {
    std::string frame;
    protocol::buildFrame(json, frame, protocol::FrameTrailer::None);
    return frame;
}

}  // namespace daq::test
