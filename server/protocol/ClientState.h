// What the requests of one connection keep between them.
#pragma once

#include <cstdint>
#include <string>

#include "kelvane/SystemRecords.h"

namespace daq::protocol {

struct ClientState {
    std::uint64_t connectionId = 0;
    std::string peerAddress;
    // Set by each accepted "LOGIN" on this connection from the host's answer; only this
    // connection's writes depend on it.
    bool writePermission = false;
    // Whether a "LOGIN" was accepted on this connection, and how many were refused on it.
    bool loggedIn = false;
    std::int32_t refusedLogins = 0;
    // The unit this connection's parameter requests address; set by its "PARAMETERLISTCOUNT".
    // Points at the host's unit record, which outlives device-list rebuilds.
    kelvane::TUnitData* selectedUnit = nullptr;
};

}  // namespace daq::protocol
