// Bounds on what clients can make the server hold or build. Each is a setting with a default;
// the server window reads them from "config.ini" (ServerConfig.h) and hands them to the core
// and the listener.
#pragma once

#include <cstddef>
#include <cstdint>

namespace daq {

// The bytes a "DAQ_DATA" entry is counted with when maxDaqDataIndexes is checked against
// maxOutputBacklog: an entry with its GUID, a value text of the longest kind, a unit of up to
// 40 characters and its time stamp.
inline constexpr std::size_t kDaqDataEntryBudget = 256;

struct ServerLimits {
    // Largest message (the bytes between STX and ETX) a client may send. A longer frame is
    // dropped up to the next STX with a trace; the connection goes on.
    std::size_t maxFrameBytes = 1024 * 1024;
    // Bytes of answers queued on one connection and not yet taken by the client. While more
    // than a quarter of it is queued, the connection's next request waits (back-pressure); a
    // list answer takes no further entry once it is half of it long, so a client that reads
    // is never closed by it; a write that would pass it closes the connection (enforced by the
    // listener, TcpServerSettings::maxOutputBacklog).
    std::size_t maxOutputBacklog = 16 * 1024 * 1024;
    // Connections served at once; the next one is closed when it is accepted (enforced by the
    // listener, TcpServerSettings::maxConnections).
    std::size_t maxConnections = 1024;
    // Entries of one "DAQLIST" page; a larger "LIST_SIZE" is cut to this many.
    int32_t maxPageEntries = 100000;
    // Indexes of one "DAQ_DATA" request that are answered; those after them are left out, as
    // indexes outside the map are. At most maxOutputBacklog / 2 / kDaqDataEntryBudget, so that
    // such an answer is never cut for its size.
    int32_t maxDaqDataIndexes = 32768;
    // Only "LOGIN" and "ALIVE" are served on a connection before a login was accepted on it;
    // other requests get no answer, with a trace.
    bool requireLogin = false;
    // Refused logins on one connection after which the server closes it.
    int32_t maxRefusedLogins = 5;
    // Seconds a connection may hold input that completes no frame (an STX without its ETX, or
    // bytes outside any frame) before the listener closes it; 0: no limit.
    int32_t unfinishedFrameTimeoutSeconds = 30;
    // Seconds a connection may send nothing before the listener closes it; 0: no limit.
    int32_t idleTimeoutSeconds = 0;
    // Rows the window's "Events" list keeps; the oldest go first. Every login and logout adds
    // one, so without a bound a client logging in and out would grow the list for ever.
    int32_t maxEventRows = 10000;

    // The length at which a list answer takes no further entry.
    std::size_t maxAnswerBytes() const { return maxOutputBacklog / 2; }
};

}  // namespace daq
