// A plain TCP connection to the server on 127.0.0.1 for tests that look at bytes: it sends
// exactly what it is given (broken frames, a request cut anywhere) and reads what arrives,
// every read bounded by a time-out.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace daq::test {

class RawSocket {
  public:
    RawSocket() = default;
    // Takes over a connected socket (one a test's listener accepted).
    explicit RawSocket(int fd) : fd_(fd) {}
    ~RawSocket();
    RawSocket(const RawSocket&) = delete;
    RawSocket& operator=(const RawSocket&) = delete;

    // Connects to 127.0.0.1:port. A receive buffer size above 0 is set before connecting, so
    // that a client that does not read holds little in its own kernel.
    bool connect(uint16_t port, int receiveBufferBytes = 0);
    bool send(std::string_view bytes);
    struct Drained {
        std::string bytes;
        bool closed = false;  // the peer closed (end of stream or reset) within the time-out
    };
    // Reads everything until the peer closes, at most `timeout` and `limit` bytes.
    Drained receiveUntilClosed(std::chrono::milliseconds timeout, std::size_t limit);
    // Reads until `count` bytes have arrived, the peer closed or the time-out passed; gives
    // what arrived.
    std::string receive(std::size_t count, std::chrono::milliseconds timeout) {
        return receiveUntilClosed(timeout, count).bytes;
    }

    // Ends what this side sends (a half-close); the peer may still send.
    void shutdownSending();
    void close();
    int fd() const { return fd_; }

  private:
    int fd_ = -1;
};

}  // namespace daq::test
