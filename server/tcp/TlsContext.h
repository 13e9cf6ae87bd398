// The certificate, key and peer checks of a TLS listener, loaded from PEM files. A context is
// never changed once made: a reload makes a new one for the handshakes that follow, and the
// connections that began under the old one keep it.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace asio::ssl {
class context;
}

namespace daq::tcp {

// Largest certificate, key or CA file read.
inline constexpr std::size_t kMaxTlsFileBytes = 1024 * 1024;

struct TlsSettings {
    enum class ClientCerts { Off, Optional, Required };
    enum class MinVersion { Tls12, Tls13 };

    std::string certFile{};  // the server's certificate, optionally followed by its chain
    std::string keyFile{};   // its private key, readable by the owner only
    std::string caFile{};    // the CAs client certificates are checked against
    ClientCerts clientCerts = ClientCerts::Off;
    MinVersion minVersion = MinVersion::Tls12;
};

class TlsContext {
  public:
    // Reads and checks the files; throws std::runtime_error naming the file and the reason (a
    // file missing, unreadable or too large, a key readable by group or others, a key that is
    // not the certificate's (OpenSSL: "key values mismatch"), client certificates asked for without
    // a CA file, OpenSSL's reason for anything it refuses).
    explicit TlsContext(const TlsSettings& settings);
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    asio::ssl::context& native() const { return *context_; }

  private:
    std::unique_ptr<asio::ssl::context> context_;
};

using TlsContextPtr = std::shared_ptr<const TlsContext>;

}  // namespace daq::tcp
