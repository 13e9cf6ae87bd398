#include "server/tcp/TlsContext.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include <openssl/ssl.h>
#include <asio/ssl/context.hpp>

namespace daq::tcp {

namespace {

// The whole file, bounded; a key file must not be readable by group or others.
std::string readPem(const char* key, const std::string& path, bool secret) {
    const auto fail = [&](const std::string& why) {
        return std::runtime_error(std::string(key) + " " + path + ": " + why);
    };
    if (path.empty()) {
        throw std::runtime_error(std::string(key) + " is not set");
    }
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                               std::fclose);
    if (!file) {
        throw fail(std::strerror(errno));
    }
    struct stat status {};
    if (::fstat(::fileno(file.get()), &status) != 0 || !S_ISREG(status.st_mode)) {
        throw fail("not a regular file");
    }
    if (secret && (status.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & 07777));
        throw fail(std::string("readable by group or others (mode ") + mode +
                   "); make it readable by its owner only (chmod 600)");
    }
    std::string text(kMaxTlsFileBytes + 1, '\0');
    text.resize(std::fread(text.data(), 1, text.size(), file.get()));
    if (std::ferror(file.get()) != 0) {
        throw fail("read error");
    }
    if (text.size() > kMaxTlsFileBytes) {
        throw fail("larger than " + std::to_string(kMaxTlsFileBytes) + " bytes");
    }
    return text;
}

// Runs one OpenSSL step of loading `path`; its failure names the file and OpenSSL's reason.
template <class Step>
void load(const char* key, const std::string& path, const Step& step) {
    std::error_code error;
    step(error);
    if (error) {
        throw std::runtime_error(std::string(key) + " " + path + ": " + error.message());
    }
}

}  // namespace

TlsContext::TlsContext(const TlsSettings& settings)
    : context_(std::make_unique<asio::ssl::context>(asio::ssl::context::tls_server)) {
    asio::ssl::context& context = *context_;
    SSL_CTX* const native = context.native_handle();
    // TLS 1.0 and 1.1 are never offered, whatever OpenSSL's own configuration allows.
    SSL_CTX_set_min_proto_version(native, settings.minVersion == TlsSettings::MinVersion::Tls13
                                              ? TLS1_3_VERSION
                                              : TLS1_2_VERSION);
    context.set_options(asio::ssl::context::default_workarounds |
                        asio::ssl::context::single_dh_use | SSL_OP_NO_RENEGOTIATION);

    const std::string cert = readPem("TlsCertFile", settings.certFile, false);
    load("TlsCertFile", settings.certFile,
         [&](std::error_code& error) { context.use_certificate_chain(asio::buffer(cert), error); });
    const std::string key = readPem("TlsKeyFile", settings.keyFile, true);
    load("TlsKeyFile", settings.keyFile, [&](std::error_code& error) {
        context.use_private_key(asio::buffer(key), asio::ssl::context::pem, error);
    });

    // Resumed sessions of clients checked by certificate need this, or they fail.
    static constexpr unsigned char kSessionContext[] = "DAQServer";
    SSL_CTX_set_session_id_context(native, kSessionContext, sizeof kSessionContext - 1);
    if (settings.clientCerts == TlsSettings::ClientCerts::Off) {
        context.set_verify_mode(asio::ssl::verify_none);
        return;
    }
    const std::string ca = readPem("TlsCaFile", settings.caFile, false);
    load("TlsCaFile", settings.caFile, [&](std::error_code& error) {
        context.add_certificate_authority(asio::buffer(ca), error);
    });
    // Tells clients which CAs their certificate must come from.
    SSL_CTX_set_client_CA_list(native, SSL_load_client_CA_file(settings.caFile.c_str()));
    context.set_verify_mode(settings.clientCerts == TlsSettings::ClientCerts::Required
                                ? asio::ssl::verify_peer | asio::ssl::verify_fail_if_no_peer_cert
                                : asio::ssl::verify_peer);
}

TlsContext::~TlsContext() = default;

}  // namespace daq::tcp
