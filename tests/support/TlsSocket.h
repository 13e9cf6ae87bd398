// A TLS client on 127.0.0.1 for tests of the server's TLS listener, on OpenSSL's own client so
// that the versions and the certificate it offers are exactly what a test sets. Every step is
// bounded by a time-out.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <openssl/types.h>

#include "tests/support/RawSocket.h"

namespace daq::test {

class TlsSocket {
  public:
    struct Options {
        std::string caFile{};    // the server's certificate is checked against it; empty: not
        std::string certFile{};  // the client's certificate and key; empty: none
        std::string keyFile{};
        int minVersion = 0;  // TLS1_2_VERSION and the like; 0: OpenSSL's default
        int maxVersion = 0;
    };

    explicit TlsSocket(Options options);
    ~TlsSocket();
    TlsSocket(const TlsSocket&) = delete;
    TlsSocket& operator=(const TlsSocket&) = delete;

    // Connects and completes the handshake; empty when it succeeded, else why (OpenSSL's
    // reason).
    std::string connect(uint16_t port, std::chrono::milliseconds timeout = std::chrono::seconds(5));
    bool send(std::string_view bytes);
    // Reads until the peer closes (a close_notify, an alert or the end of the stream), at most
    // `timeout` and `limit` bytes.
    RawSocket::Drained receiveUntilClosed(std::chrono::milliseconds timeout, std::size_t limit);
    std::string receive(std::size_t count, std::chrono::milliseconds timeout) {
        return receiveUntilClosed(timeout, count).bytes;
    }
    // Whether the server's close_notify has arrived.
    bool closeNotified() const;
    // The serial number of the server's certificate; -1 before a handshake.
    long peerSerial() const;

  private:
    RawSocket socket_;
    SSL_CTX* context_ = nullptr;
    SSL* ssl_ = nullptr;
};

}  // namespace daq::test
