#include "server/core/Session.h"

#include <utility>

namespace daq {

Session::Session(std::uint64_t connectionId, std::string peerAddress, std::size_t maxFrameBytes)
    : frames(maxFrameBytes) {
    client.connectionId = connectionId;
    client.peerAddress = std::move(peerAddress);
}

}  // namespace daq
