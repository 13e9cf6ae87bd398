// A client's TCP connection to the DAQ server, plain or TLS: framed requests out, framed answers
// in, every step bounded by a time-out. Blocking calls, one thread; no Qt.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace daq::client {

// TLS of a connection (TlsContext.h makes its OpenSSL context).
struct TlsSettings {
    std::string caFile{};  // PEM; empty: the system's default verify paths
    // Client certificate (PEM, may hold the chain) and its key, for servers that ask for one.
    std::string certFile{};
    std::string keyFile{};
    // False accepts any certificate from any server: the traffic is encrypted, but to whoever
    // answers.
    bool verify = true;
    // The name the certificate must carry, also sent as SNI when it is a DNS name; empty: the
    // host given to connect.
    std::string serverName{};
};

struct ClientSettings {
    std::chrono::milliseconds connectTimeout{3000};
    // Longest wait for an answer (or for the server to close, see readUntilClosed).
    std::chrono::milliseconds replyTimeout{3000};
    // Longest wait for the server to take one request.
    std::chrono::milliseconds sendTimeout{3000};
    // Largest answer accepted; a longer one is a bad reply.
    std::size_t maxReplyBytes = 64 * 1024 * 1024;
    // TLS over the connection, with the handshake inside the connect time-out; none: plain TCP.
    std::optional<TlsSettings> tls{};
};

enum class ClientErrorKind {
    None,
    Timeout,   // no (complete) answer in time: the connection stays usable; a send that did
               // not finish in time: the connection is closed
    Closed,    // the server closed the connection, or it was never open
    BadReply,  // the answer broke the frame rules, was too long or was not JSON
    Network,   // resolving, connecting or sending failed, or the TLS handshake did
    // TLS: the server's certificate failed verification, or a file of the TLS settings could
    // not be used
    Certificate,
};

class ClientConnection {
  public:
    explicit ClientConnection(ClientSettings settings = {});
    ~ClientConnection();
    ClientConnection(const ClientConnection&) = delete;
    ClientConnection& operator=(const ClientConnection&) = delete;

    // Resolves `host` and connects within the connect time-out; closes a previous connection.
    bool connect(std::string_view host, std::uint16_t port);
    void close();
    bool isOpen() const;

    // Sends the bytes as they are (tests use it for broken frames).
    bool sendRaw(std::string_view bytes);
    // Sends one request frame: STX, the JSON text, ETX. The text must come from a JSON writer,
    // which escapes the control bytes that would break the frame.
    bool sendMessage(std::string_view json);

    // Reads one answer frame, STX text ETX 0x00, and gives its text. Bytes of a later answer
    // stay buffered for the next read. The stop notice in place of an answer closes the
    // connection and fails as Closed, "the server stopped".
    std::optional<std::string> readFrame(std::optional<std::chrono::milliseconds> timeout = {});
    // Reads until the server closes the connection and gives every byte not read before: the
    // unframed stop notice ({"PS_ID":true}) that precedes a server stop, for one.
    std::optional<std::string> readUntilClosed(
        std::optional<std::chrono::milliseconds> timeout = {});

    const ClientSettings& settings() const { return settings_; }
    ClientErrorKind lastErrorKind() const { return lastErrorKind_; }
    const std::string& lastError() const { return lastError_; }

  private:
    struct Impl;

    bool fail(ClientErrorKind kind, std::string message);
    // The TLS handshake on the connected socket, within the connect deadline; closes on failure.
    bool handshake(std::string_view host, const std::string& target,
                   std::chrono::steady_clock::time_point deadline);
    std::string missingCertificateNote() const;
    // Reads what has arrived into the input buffer; false on time-out, close or error.
    bool readSome(std::chrono::steady_clock::time_point deadline);

    ClientSettings settings_;
    std::unique_ptr<Impl> impl_;
    std::string input_;
    ClientErrorKind lastErrorKind_ = ClientErrorKind::None;
    std::string lastError_;
};

}  // namespace daq::client
