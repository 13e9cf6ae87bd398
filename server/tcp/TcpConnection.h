// One client connection of the TCP server, as its owner sees it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace daq::tcp {

// Every member may be called from any thread, also after the connection has ended.
class TcpConnection {
  public:
    virtual ~TcpConnection() = default;

    // Unique within one TcpServer, counted from 1 in order of acceptance.
    virtual std::uint64_t id() const = 0;
    // The peer's address and port, taken when the connection was accepted.
    virtual const std::string& peerAddress() const = 0;
    virtual std::uint16_t peerPort() const = 0;

    // Queues the whole buffer for sending and returns at once; buffers go out in the order of
    // the calls, each in one piece. Ignored once the connection is closing. A queue that would
    // grow past the server's output backlog bound closes the connection instead, reported
    // through the exception event (SocketError 10055).
    virtual void write(std::string_view bytes) = 0;

    // Closes the connection after what is already queued has been sent (or, when the peer does
    // not take it, after the server's drain time-out). The disconnect event follows.
    virtual void close() = 0;

    // True until the connection is closed by either side or close() is called.
    virtual bool connected() const = 0;

    // Called by the owner's data event: whether the bytes received so far leave input that
    // the owner still waits to complete (a message without its end). The server's
    // unfinished-input time-out runs from the read that left input pending until the owner
    // reports none; an owner that never reports has none. Connections of servers without that
    // time-out may ignore it.
    virtual void setInputPending(bool pending) { static_cast<void>(pending); }

    // A slot for the owner's own per-connection state; the connection only keeps it alive.
    virtual void setUserData(std::shared_ptr<void> data) = 0;
    virtual std::shared_ptr<void> userData() const = 0;
};

using ConnectionPtr = std::shared_ptr<TcpConnection>;

}  // namespace daq::tcp
