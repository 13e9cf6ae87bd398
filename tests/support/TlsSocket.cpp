#include "tests/support/TlsSocket.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

namespace daq::test {

namespace {

using Clock = std::chrono::steady_clock;

// Bounds the blocking socket calls OpenSSL makes to what is left until the deadline.
bool boundTo(int fd, Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
        return false;
    }
    const timeval limit{static_cast<time_t>(left.count() / 1000000),
                        static_cast<suseconds_t>(left.count() % 1000000)};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    return true;
}

std::string lastError(const char* step) {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    char text[256] = "no reason given (time-out or closed)";
    if (code != 0) {
        ERR_error_string_n(code, text, sizeof text);
    }
    return std::string(step) + ": " + text;
}

}  // namespace

TlsSocket::TlsSocket(Options options) : context_(SSL_CTX_new(TLS_client_method())) {
    if (context_ == nullptr) {
        throw std::runtime_error("SSL_CTX_new failed");
    }
    if (options.minVersion != 0 && options.minVersion < TLS1_2_VERSION) {
        // OpenSSL offers TLS 1.0 and 1.1 only at security level 0.
        SSL_CTX_set_security_level(context_, 0);
        SSL_CTX_set_cipher_list(context_, "DEFAULT@SECLEVEL=0");
    }
    SSL_CTX_set_min_proto_version(context_, options.minVersion);
    SSL_CTX_set_max_proto_version(context_, options.maxVersion);
    if (!options.caFile.empty()) {
        SSL_CTX_load_verify_locations(context_, options.caFile.c_str(), nullptr);
        SSL_CTX_set_verify(context_, SSL_VERIFY_PEER, nullptr);
    }
    if (!options.certFile.empty() &&
        (SSL_CTX_use_certificate_chain_file(context_, options.certFile.c_str()) != 1 ||
         SSL_CTX_use_PrivateKey_file(context_, options.keyFile.c_str(), SSL_FILETYPE_PEM) != 1)) {
        SSL_CTX_free(context_);
        throw std::runtime_error(lastError("client certificate"));
    }
}

TlsSocket::~TlsSocket() {
    SSL_free(ssl_);
    SSL_CTX_free(context_);
}

std::string TlsSocket::connect(uint16_t port, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    if (!socket_.connect(port)) {
        return "connect failed";
    }
    SSL_free(ssl_);
    ssl_ = SSL_new(context_);
    SSL_set_fd(ssl_, socket_.fd());
    SSL_set1_host(ssl_, "localhost");
    if (!boundTo(socket_.fd(), deadline) || SSL_connect(ssl_) != 1) {
        return lastError("handshake");
    }
    return {};
}

bool TlsSocket::send(std::string_view bytes) {
    std::size_t written = 0;
    return boundTo(socket_.fd(), Clock::now() + std::chrono::seconds(5)) &&
           SSL_write_ex(ssl_, bytes.data(), bytes.size(), &written) == 1;
}

RawSocket::Drained TlsSocket::receiveUntilClosed(std::chrono::milliseconds timeout,
                                                 std::size_t limit) {
    const auto deadline = Clock::now() + timeout;
    RawSocket::Drained drained;
    char chunk[16 * 1024];
    while (drained.bytes.size() < limit && boundTo(socket_.fd(), deadline)) {
        std::size_t size = 0;
        if (SSL_read_ex(ssl_, chunk, std::min(sizeof chunk, limit - drained.bytes.size()), &size) !=
            1) {
            const int error = SSL_get_error(ssl_, 0);
            ERR_clear_error();
            // A read that ran out of time is no close.
            drained.closed = error != SSL_ERROR_WANT_READ &&
                             !(error == SSL_ERROR_SYSCALL && (errno == EAGAIN || errno == EINTR));
            break;
        }
        drained.bytes.append(chunk, size);
    }
    return drained;
}

bool TlsSocket::closeNotified() const {
    return ssl_ != nullptr && (SSL_get_shutdown(ssl_) & SSL_RECEIVED_SHUTDOWN) != 0;
}

long TlsSocket::peerSerial() const {
    X509* cert = ssl_ != nullptr ? SSL_get1_peer_certificate(ssl_) : nullptr;
    if (cert == nullptr) {
        return -1;
    }
    const long serial = ASN1_INTEGER_get(X509_get0_serialNumber(cert));
    X509_free(cert);
    return serial;
}

}  // namespace daq::test
