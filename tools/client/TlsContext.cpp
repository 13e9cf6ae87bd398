#include "tools/client/TlsContext.h"

#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/x509v3.h>
#include <unistd.h>

#include <cstdlib>

namespace daq::client {

namespace {

constexpr const char* kKeyLogVariable = "SSLKEYLOGFILE";

std::string openSslError() {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) {
        return "unknown error";
    }
    const char* reason = ERR_reason_error_string(code);
    return reason != nullptr ? reason : "error " + std::to_string(code);
}

// Appends one NSS key log line. The file holds session secrets: made readable by its owner only.
void appendKeyLogLine(const SSL* /*session*/, const char* line) {
    const char* path = std::getenv(kKeyLogVariable);
    if (path == nullptr || *path == '\0') {
        return;
    }
    const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        return;
    }
    const std::string text = std::string(line) + "\n";
    [[maybe_unused]] const auto written = ::write(fd, text.data(), text.size());
    ::close(fd);
}

// The session's mark that the server asked for a certificate this client does not have.
int askedIndex() {
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

// Called in the handshake only when no client certificate is set.
int noClientCertificate(SSL* session, X509** /*certificate*/, EVP_PKEY** /*key*/) {
    static int marker = 0;
    SSL_set_ex_data(session, askedIndex(), &marker);
    return 0;  // continue without one
}

}  // namespace

SslContextPtr makeTlsContext(const TlsSettings& settings, std::string& error) {
    SslContextPtr context(SSL_CTX_new(TLS_client_method()));
    if (!context) {
        error = "TLS: " + openSslError();
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
    if (const char* path = std::getenv(kKeyLogVariable); path != nullptr && *path != '\0') {
        SSL_CTX_set_keylog_callback(context.get(), appendKeyLogLine);
    }
    if (settings.verify) {
        SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, nullptr);
        const bool loaded = settings.caFile.empty()
                                ? SSL_CTX_set_default_verify_paths(context.get()) == 1
                                : SSL_CTX_load_verify_locations(
                                      context.get(), settings.caFile.c_str(), nullptr) == 1;
        if (!loaded) {
            error = "CA file " + settings.caFile + ": " + openSslError();
            return nullptr;
        }
    }
    SSL_CTX_set_client_cert_cb(context.get(), noClientCertificate);
    if (!settings.certFile.empty()) {
        if (SSL_CTX_use_certificate_chain_file(context.get(), settings.certFile.c_str()) != 1) {
            error = "certificate file " + settings.certFile + ": " + openSslError();
            return nullptr;
        }
        if (SSL_CTX_use_PrivateKey_file(context.get(), settings.keyFile.c_str(),
                                        SSL_FILETYPE_PEM) != 1 ||
            SSL_CTX_check_private_key(context.get()) != 1) {
            error = "key file " + settings.keyFile + ": " + openSslError();
            return nullptr;
        }
    }
    return context;
}

void prepareTlsSession(SSL* session, const TlsSettings& settings, std::string_view host) {
    const std::string name(settings.serverName.empty() ? host : settings.serverName);
    X509_VERIFY_PARAM* param = SSL_get0_param(session);
    // An address is matched against the certificate's IP entries, and is no SNI name.
    if (X509_VERIFY_PARAM_set1_ip_asc(param, name.c_str()) == 1) {
        return;
    }
    SSL_set_tlsext_host_name(session, name.c_str());
    if (settings.verify) {
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        X509_VERIFY_PARAM_set1_host(param, name.c_str(), name.size());
    }
}

bool askedForCertificate(const SSL* session) {
    return SSL_get_ex_data(session, askedIndex()) != nullptr;
}

std::string certificateFailure(const SSL* session) {
    const long result = SSL_get_verify_result(session);
    return result == X509_V_OK ? std::string() : X509_verify_cert_error_string(result);
}

}  // namespace daq::client
