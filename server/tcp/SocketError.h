// The error the TCP component raises and reports: a message with a Windows Sockets code, the
// codes the server's traces and its clients know.
#pragma once

#include <stdexcept>
#include <string>

namespace daq::tcp {

// Codes of the connections the server closes itself because they reached one of its bounds.
inline constexpr int kOutputBacklogExceeded = 10055;   // WSAENOBUFS
inline constexpr int kConnectionLimitReached = 10024;  // WSAEMFILE
// The unfinished-input or the idle time-out ran out.
inline constexpr int kConnectionTimedOut = 10060;  // WSAETIMEDOUT
// A TLS client's handshake failed (refused protocol version or certificate, not TLS at all).
inline constexpr int kTlsHandshakeFailed = 10061;  // WSAECONNREFUSED

class SocketError : public std::runtime_error {
  public:
    SocketError(int code, const std::string& message) : std::runtime_error(message), code_(code) {}

    int code() const noexcept { return code_; }

  private:
    int code_;
};

}  // namespace daq::tcp
