// TcpSession's TLS side: the handshake, reads and writes through the SSL stream, and the
// close_notify (see TcpSession.h). Plain connections only pass through start() here.
#include "server/tcp/TcpSession.h"

#include <cstdint>
#include <utility>

#include <asio/post.hpp>
#include <asio/ssl/error.hpp>
#include <asio/ssl/stream.hpp>
#include <asio/write.hpp>

#include "server/tcp/TcpActivation.h"
#include "server/tcp/WinsockCode.h"

namespace daq::tcp {

// Here, where the TLS stream's type is complete.
TcpSession::TcpSession(std::shared_ptr<TcpActivation> activation, asio::ip::tcp::socket socket,
                       std::uint64_t id, TlsContextPtr tls)
    : activation_(std::move(activation)),
      socket_(std::move(socket)),
      drainTimer_(socket_.get_executor()),
      tlsContext_(std::move(tls)),
      id_(id),
      readBuffer_(std::make_unique_for_overwrite<char[]>(activation_->settings.readChunkBytes)),
      lastInputAt_(stamp(now())) {
    std::error_code error;
    const auto peer = socket_.remote_endpoint(error);
    if (!error) {
        peerAddress_ = peer.address().to_string();
        peerPort_ = peer.port();
    }
    // Answers go out whole in one write each; waiting to coalesce them only adds latency when
    // a client has several requests in flight.
    socket_.set_option(asio::ip::tcp::no_delay(true), error);
    // Sends from the strand must never wait for a peer that does not read.
    socket_.non_blocking(true, error);
}

TcpSession::~TcpSession() = default;

void TcpSession::start() {
    if (!tlsContext_) {
        asio::post(socket_.get_executor(), [self = shared_from_this()] { self->connectAndRead(); });
        return;
    }
    tls_ =
        std::make_unique<asio::ssl::stream<asio::ip::tcp::socket&>>(socket_, tlsContext_->native());
    handshakeSince_.store(stamp(now()), std::memory_order_relaxed);
    asio::post(socket_.get_executor(), [self = shared_from_this()] {
        // The handshake stands for the read under way: a close meanwhile ends it, and its
        // handler finishes the connection.
        self->readPending_ = true;
        self->tls_->async_handshake(
            asio::ssl::stream_base::server,
            [self](const std::error_code& error) { self->onHandshake(error); });
    });
}

void TcpSession::onHandshake(const std::error_code& error) {
    readPending_ = false;
    handshakeSince_.store(kNotPending, std::memory_order_relaxed);
    if (socketClosed_) {
        finish({});  // closed at the handshake time-out or by deactivate
        return;
    }
    if (error) {
        activation_->reportException(
            nullptr, SocketError(kTlsHandshakeFailed, "TLS handshake with " + peerAddress_ + ":" +
                                                          std::to_string(peerPort_) +
                                                          " failed: " + error.message()));
        closeSocket();
        return;
    }
    lastInputAt_.store(stamp(now()), std::memory_order_relaxed);
    connectAndRead();
}

void TcpSession::readTls() {
    tls_->async_read_some(asio::buffer(readBuffer_.get(), activation_->settings.readChunkBytes),
                          [self = shared_from_this()](std::error_code error, std::size_t length) {
                              // A client that closes without a close_notify has ended its input all
                              // the same.
                              if (error == asio::ssl::error::stream_truncated) {
                                  error = asio::error::eof;
                              }
                              self->onRead(error, length);
                          });
}

void TcpSession::writeTls(const std::string& front) {
    asio::async_write(*tls_, asio::buffer(front),
                      [self = shared_from_this()](const std::error_code& error, std::size_t sent) {
                          self->onWritten(error, sent);
                      });
}

void TcpSession::closeDrained() {
    if (!tls_ || socketClosed_ || tlsClosing_ ||
        handshakeSince_.load(std::memory_order_relaxed) != kNotPending) {
        closeSocket();
        return;
    }
    // Best effort: a client that neither takes the close_notify nor answers it or closes is
    // closed by the drain timer.
    tlsClosing_ = true;
    drainLeft_ = SIZE_MAX;
    armDrainTimer();
    if (readPending_) {
        // The shutdown reads the client's answer itself, and would wait behind this read.
        std::error_code ignored;
        socket_.cancel(ignored);
        return;  // onRead sends the close_notify
    }
    sendCloseNotify();
}

void TcpSession::sendCloseNotify() {
    tls_->async_shutdown(
        [self = shared_from_this()](const std::error_code&) { self->closeSocket(); });
}

}  // namespace daq::tcp
