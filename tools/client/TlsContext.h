// The client side of TLS, shared by the client library and daqbench: the OpenSSL context made
// from a client's TLS settings (ClientConnection.h), the checks each session makes of the server's
// certificate, and why a handshake failed.
#pragma once

#include <openssl/ssl.h>

#include <memory>
#include <string>
#include <string_view>

#include "tools/client/ClientConnection.h"

namespace daq::client {

struct SslContextFree {
    void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};
using SslContextPtr = std::unique_ptr<SSL_CTX, SslContextFree>;

// TLS 1.2 or later, the CA and client certificate of `settings` loaded; with SSLKEYLOGFILE set
// in the environment, every session's secrets are appended to that file in the NSS key log
// format (for Wireshark). Null, with the reason in `error`, when a file cannot be used.
SslContextPtr makeTlsContext(const TlsSettings& settings, std::string& error);

// Sets the name the server's certificate must match (IP address or DNS name: `host` unless the
// settings name one) and SNI on a session before its handshake.
void prepareTlsSession(SSL* session, const TlsSettings& settings, std::string_view host);

// True when the server asked for a client certificate and the settings named none.
bool askedForCertificate(const SSL* session);

// OpenSSL's reason why the server's certificate was refused ("certificate has expired"), empty
// when it was not.
std::string certificateFailure(const SSL* session);

}  // namespace daq::client
