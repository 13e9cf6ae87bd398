#include "server/tcp/TcpListener.h"

#include <asio/bind_executor.hpp>
#include <asio/post.hpp>

#include "server/tcp/TcpActivation.h"
#include "server/tcp/TcpSession.h"
#include "server/tcp/WinsockCode.h"

namespace daq::tcp {

namespace {

void check(const std::error_code& error, const std::string& what) {
    if (error) {
        throw toSocketError(error, what);
    }
}

}  // namespace

TcpListener::TcpListener(std::shared_ptr<TcpActivation> activation,
                         const asio::ip::tcp::endpoint& endpoint, bool tls)
    : activation_(std::move(activation)),
      strand_(asio::make_strand(activation_->io)),
      acceptor_(strand_),
      retryTimer_(strand_),
      tls_(tls) {
    const std::string requested =
        endpoint.address().to_string() + ":" + std::to_string(endpoint.port());
    std::error_code error;
    acceptor_.open(endpoint.protocol(), error);
    check(error, "open listener " + requested);
    // Lets a restarted server take its port back while old connections linger in TIME_WAIT;
    // a port that another socket listens on still fails with 10048.
    acceptor_.set_option(asio::socket_base::reuse_address(true), error);
    check(error, "set options of listener " + requested);
    acceptor_.bind(endpoint, error);
    check(error, "bind " + requested);
    acceptor_.listen(asio::socket_base::max_listen_connections, error);
    check(error, "listen on " + requested);
    port_ = acceptor_.local_endpoint(error).port();
    check(error, "read port of listener " + requested);
    name_ = endpoint.address().to_string() + ":" + std::to_string(port_) + (tls ? " (TLS)" : "");
}

void TcpListener::start() {
    // Reported before activate() returns, so that it comes before what the owner reports then.
    activation_->reportStatus("listening on " + name_);
    asio::post(strand_, [self = shared_from_this()] { self->acceptNext(); });
}

void TcpListener::stop() {
    asio::post(strand_, [self = shared_from_this()] {
        std::error_code ignored;
        self->acceptor_.close(ignored);
        self->retryTimer_.cancel();
        self->activation_->reportStatus("stopped listening on " + self->name_);
    });
}

void TcpListener::acceptNext() {
    // Each connection gets a strand of its own, so its events run one at a time.
    acceptor_.async_accept(
        asio::any_io_executor(asio::make_strand(activation_->io)),
        asio::bind_executor(strand_, [self = shared_from_this()](std::error_code error,
                                                                 asio::ip::tcp::socket socket) {
            self->onAccept(error, std::move(socket));
        }));
}

void TcpListener::onAccept(std::error_code error, asio::ip::tcp::socket socket) {
    if (!acceptor_.is_open()) {
        return;
    }
    if (!error && activation_->failNextAccept.exchange(false)) {
        error = std::make_error_code(std::errc::connection_aborted);
        std::error_code ignored;
        socket.close(ignored);
    }
    if (error) {
        activation_->reportException(nullptr, toSocketError(error, "accept on " + name_));
        retryTimer_.expires_after(activation_->settings.acceptRetryDelay);
        retryTimer_.async_wait([self = shared_from_this()](const std::error_code& waitError) {
            if (!waitError && self->acceptor_.is_open()) {
                self->acceptNext();
            }
        });
        return;
    }
    admit(std::move(socket));
    acceptNext();
}

void TcpListener::admit(asio::ip::tcp::socket socket) {
    auto session =
        std::make_shared<TcpSession>(activation_, std::move(socket), activation_->nextId++,
                                     tls_ ? activation_->tlsContext() : nullptr);
    switch (activation_->registry.add(session, session->id())) {
        case ConnectionRegistry::AddResult::Added:
            session->start();
            break;
        case ConnectionRegistry::AddResult::Full:
            // The session is dropped unstarted, which closes its socket.
            activation_->reportException(
                nullptr,
                SocketError(winsockCode(std::make_error_code(std::errc::too_many_files_open)),
                            "connection limit of " +
                                std::to_string(activation_->settings.maxConnections) +
                                " reached: closed the connection from " + session->peerAddress() +
                                ":" + std::to_string(session->peerPort())));
            break;
        case ConnectionRegistry::AddResult::Closed:
            break;
    }
}

}  // namespace daq::tcp
