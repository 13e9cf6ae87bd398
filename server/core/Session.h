// Everything the server keeps for one connection. Lives in the connection's user slot from the
// connect event to the end of the connection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "server/protocol/Answer.h"
#include "server/protocol/ClientState.h"
#include "server/protocol/FrameReader.h"

namespace daq {

struct Session {
    Session(std::uint64_t connectionId, std::string peerAddress, std::size_t maxFrameBytes);

    // The connection's own reassembly of frames; touched only by its data events, which never
    // run at the same time.
    protocol::FrameReader frames;
    // Login permission and selected unit of this connection; touched under the request lock.
    protocol::ClientState client;
    // Reused for every answer on this connection; touched by its data events, which never run
    // at the same time.
    protocol::Answer answer;
};

}  // namespace daq
