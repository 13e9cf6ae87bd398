#include "tools/client/ClientConnection.h"

#include <array>
#include <utility>

#include <asio/connect.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/read.hpp>
#include <asio/ssl.hpp>
#include <asio/write.hpp>

#include "server/protocol/Frame.h"
#include "tools/client/TlsContext.h"

namespace daq::client {

namespace {

using Clock = std::chrono::steady_clock;

// Outcome of one asynchronous step that runs under a deadline.
struct Step {
    bool done = false;
    std::error_code error;
    std::size_t length = 0;
};

std::string hexByte(char byte) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    const auto value = static_cast<unsigned char>(byte);
    return std::string("0x") + kDigits[value >> 4] + kDigits[value & 0x0F];
}

}  // namespace

struct ClientConnection::Impl {
    asio::io_context io;
    asio::ip::tcp::socket plain{io};
    // With TLS settings: made once, or why it could not be.
    std::optional<asio::ssl::context> tlsContext;
    std::string tlsContextError;
    std::optional<asio::ssl::stream<asio::ip::tcp::socket>> tls;  // one per connection
    std::array<char, 64 * 1024> chunk{};

    asio::ip::tcp::socket& socket() { return tls ? tls->next_layer() : plain; }

    // Starts `operation` on the stream the protocol runs over: the TLS stream or the socket.
    template <typename Operation>
    void start(Operation&& operation) {
        if (tls) {
            operation(*tls);
        } else {
            operation(plain);
        }
    }

    // Runs the started step until it completes or the deadline passes; a step still running
    // then is cancelled. True when it completed in time (successfully or not).
    bool await(Step& step, Clock::time_point deadline) {
        io.restart();
        io.run_until(deadline);
        if (step.done) {
            return true;
        }
        std::error_code ignored;
        socket().cancel(ignored);
        io.restart();
        io.run();
        return step.done && step.error != asio::error::operation_aborted;
    }

    auto recorder(Step& step) {
        return [&step](const std::error_code& error, std::size_t length = 0) {
            step = {true, error, length};
        };
    }
};

ClientConnection::ClientConnection(ClientSettings settings)
    : settings_(std::move(settings)), impl_(std::make_unique<Impl>()) {
    if (settings_.tls) {
        if (auto context = makeTlsContext(*settings_.tls, impl_->tlsContextError)) {
            impl_->tlsContext.emplace(context.release());
        }
    }
}

ClientConnection::~ClientConnection() = default;

bool ClientConnection::fail(ClientErrorKind kind, std::string message) {
    lastErrorKind_ = kind;
    lastError_ = std::move(message);
    return false;
}

bool ClientConnection::connect(std::string_view host, std::uint16_t port) {
    close();
    if (settings_.tls && !impl_->tlsContext) {
        return fail(ClientErrorKind::Certificate, impl_->tlsContextError);
    }
    impl_->tls.reset();
    if (impl_->tlsContext) {
        impl_->tls.emplace(impl_->io, *impl_->tlsContext);
    }
    asio::ip::tcp::resolver resolver(impl_->io);
    std::error_code error;
    const auto endpoints = resolver.resolve(host, std::to_string(port), error);
    if (error) {
        return fail(ClientErrorKind::Network,
                    "resolve " + std::string(host) + ": " + error.message());
    }
    const auto deadline = Clock::now() + settings_.connectTimeout;
    Step step;
    asio::async_connect(impl_->socket(), endpoints,
                        [&step](const std::error_code& connectError, const auto&) {
                            step = {true, connectError, 0};
                        });
    const std::string target = std::string(host) + ":" + std::to_string(port);
    if (!impl_->await(step, deadline)) {
        close();
        return fail(ClientErrorKind::Timeout, "connect to " + target + ": timed out");
    }
    if (step.error) {
        close();
        return fail(ClientErrorKind::Network, "connect to " + target + ": " + step.error.message());
    }
    impl_->socket().set_option(asio::ip::tcp::no_delay(true), error);
    if (impl_->tls && !handshake(host, target, deadline)) {
        return false;
    }
    lastErrorKind_ = ClientErrorKind::None;
    lastError_.clear();
    return true;
}

bool ClientConnection::handshake(std::string_view host, const std::string& target,
                                 Clock::time_point deadline) {
    prepareTlsSession(impl_->tls->native_handle(), *settings_.tls, host);
    Step step;
    impl_->tls->async_handshake(asio::ssl::stream_base::client, impl_->recorder(step));
    if (!impl_->await(step, deadline)) {
        close();
        return fail(ClientErrorKind::Timeout, "TLS handshake with " + target + ": timed out");
    }
    if (!step.error) {
        return true;
    }
    close();
    const std::string refused = certificateFailure(impl_->tls->native_handle());
    if (settings_.tls->verify && !refused.empty()) {
        return fail(ClientErrorKind::Certificate,
                    "certificate of " + target + " refused: " + refused);
    }
    return fail(ClientErrorKind::Network, "TLS handshake with " + target + ": " +
                                              step.error.message() + missingCertificateNote());
}

std::string ClientConnection::missingCertificateNote() const {
    // A server that requires a client certificate ends the session with an alert: in the
    // handshake with TLS 1.2, after it with TLS 1.3, where the client sees it as a failed read
    // or send.
    return impl_->tls && askedForCertificate(impl_->tls->native_handle())
               ? "; the server asked for a client certificate and none was given"
               : "";
}

void ClientConnection::close() {
    std::error_code ignored;
    impl_->socket().shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    impl_->socket().close(ignored);
    input_.clear();
}

bool ClientConnection::isOpen() const {
    return impl_->socket().is_open();
}

bool ClientConnection::sendRaw(std::string_view bytes) {
    if (!isOpen()) {
        return fail(ClientErrorKind::Closed, "send: not connected");
    }
    Step step;
    impl_->start([&](auto& stream) {
        asio::async_write(stream, asio::buffer(bytes.data(), bytes.size()), impl_->recorder(step));
    });
    if (!impl_->await(step, Clock::now() + settings_.sendTimeout)) {
        // Part of the request may have gone out: the stream is of no use any more.
        close();
        return fail(ClientErrorKind::Timeout, "send: timed out");
    }
    if (step.error) {
        close();
        return fail(ClientErrorKind::Network,
                    "send: " + step.error.message() + missingCertificateNote());
    }
    return true;
}

bool ClientConnection::sendMessage(std::string_view json) {
    std::string frame;
    protocol::buildFrame(json, frame, protocol::FrameTrailer::None);
    return sendRaw(frame);
}

bool ClientConnection::readSome(Clock::time_point deadline) {
    if (!isOpen()) {
        return fail(ClientErrorKind::Closed, "read: not connected");
    }
    Step step;
    impl_->start([&](auto& stream) {
        stream.async_read_some(asio::buffer(impl_->chunk), impl_->recorder(step));
    });
    if (!impl_->await(step, deadline)) {
        return fail(ClientErrorKind::Timeout, "read: no answer in time");
    }
    // A TLS server may close without its close_notify: a truncated stream, the same to us.
    if (step.error == asio::error::eof || step.error == asio::error::connection_reset ||
        step.error == asio::ssl::error::stream_truncated) {
        return fail(ClientErrorKind::Closed,
                    "read: the server closed the connection" + missingCertificateNote());
    }
    if (step.error) {
        return fail(ClientErrorKind::Network,
                    "read: " + step.error.message() + missingCertificateNote());
    }
    input_.append(impl_->chunk.data(), step.length);
    return true;
}

std::optional<std::string> ClientConnection::readFrame(
    std::optional<std::chrono::milliseconds> timeout) {
    const auto deadline = Clock::now() + timeout.value_or(settings_.replyTimeout);
    while (true) {
        if (input_.starts_with(protocol::kStopNotice)) {
            close();
            fail(ClientErrorKind::Closed, "the server stopped");
            return std::nullopt;
        }
        // A stop notice may arrive in pieces.
        const bool noticeBegun = protocol::kStopNotice.starts_with(input_);
        if (!input_.empty() && input_.front() != protocol::kStx && !noticeBegun) {
            fail(ClientErrorKind::BadReply, "answer starts with " + hexByte(input_.front()) +
                                                " instead of STX: " + input_.substr(0, 64));
            input_.clear();
            return std::nullopt;
        }
        const std::size_t etx = input_.find(protocol::kEtx);
        if (etx != std::string::npos && etx + 1 < input_.size()) {
            if (input_[etx + 1] != protocol::kMessageEnd) {
                fail(ClientErrorKind::BadReply,
                     "answer has " + hexByte(input_[etx + 1]) + " after ETX instead of 0x00");
                input_.clear();
                return std::nullopt;
            }
            std::string text = input_.substr(1, etx - 1);
            input_.erase(0, etx + 2);
            return text;
        }
        if (input_.size() > settings_.maxReplyBytes) {
            fail(ClientErrorKind::BadReply,
                 "answer longer than " + std::to_string(settings_.maxReplyBytes) + " bytes");
            input_.clear();
            return std::nullopt;
        }
        if (!readSome(deadline)) {
            return std::nullopt;
        }
    }
}

std::optional<std::string> ClientConnection::readUntilClosed(
    std::optional<std::chrono::milliseconds> timeout) {
    const auto deadline = Clock::now() + timeout.value_or(settings_.replyTimeout);
    while (input_.size() <= settings_.maxReplyBytes) {
        if (!readSome(deadline)) {
            if (lastErrorKind_ != ClientErrorKind::Closed) {
                return std::nullopt;
            }
            std::string received = std::exchange(input_, {});
            close();
            return received;
        }
    }
    fail(ClientErrorKind::BadReply,
         "more than " + std::to_string(settings_.maxReplyBytes) + " bytes before the close");
    input_.clear();
    return std::nullopt;
}

}  // namespace daq::client
