#include "server/tcp/tcp_session.h"

#include <utility>

#include <asio/post.hpp>
#include <asio/write.hpp>

#include "server/tcp/tcp_activation.h"
#include "server/tcp/winsock_code.h"

namespace daq::tcp {

namespace {

// The connection whose handler runs on this thread, on its strand: what it writes is sent when
// the handler returns, by this thread.
thread_local const TcpSession* sessionInHandler = nullptr;

}  // namespace

TcpSession::TcpSession(std::shared_ptr<TcpActivation> activation, asio::ip::tcp::socket socket,
                       std::uint64_t id)
    : activation_(std::move(activation)),
      socket_(std::move(socket)),
      drainTimer_(socket_.get_executor()),
      id_(id),
      readBuffer_(std::make_unique_for_overwrite<char[]>(activation_->settings.readChunkBytes)),
      lastInputAt_(Clock::now().time_since_epoch().count()) {
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

void TcpSession::start() {
    asio::post(socket_.get_executor(), [self = shared_from_this()] {
        self->runHandler([&] {
            if (self->activation_->events.onConnect) {
                self->activation_->events.onConnect(self);
            }
        });
        self->readNext();
    });
}

template <class Handler>
void TcpSession::runHandler(const Handler& handler) {
    const TcpSession* const outer = std::exchange(sessionInHandler, this);
    try {
        handler();
    } catch (const std::exception& error) {
        activation_->reportException(shared_from_this(), error);
        close();
    } catch (...) {
        close();
    }
    sessionInHandler = outer;
    if (std::exchange(flushAfterHandler_, false)) {
        writeNext();
    }
}

void TcpSession::readNext() {
    socket_.async_read_some(
        asio::buffer(readBuffer_.get(), activation_->settings.readChunkBytes),
        [self = shared_from_this()](const std::error_code& error, std::size_t length) {
            self->onRead(error, length);
        });
}

void TcpSession::onRead(const std::error_code& error, std::size_t length) {
    if (error || socketClosed_) {
        finish(error);
        return;
    }
    lastInputAt_.store(Clock::now().time_since_epoch().count(), std::memory_order_relaxed);
    runHandler([&] {
        // Bytes that arrive while the connection closes have nobody left to answer them.
        if (activation_->events.onData && connected()) {
            activation_->events.onData(shared_from_this(),
                                       std::string_view(readBuffer_.get(), length));
        }
    });
    readNext();
}

void TcpSession::write(std::string_view bytes) {
    if (bytes.empty()) {
        return;
    }
    bool overflow = false;
    bool startWriting = false;
    std::size_t wanted = 0;
    {
        std::lock_guard lock(mutex_);
        if (closing_) {
            return;
        }
        wanted = backlog_ + bytes.size();
        if (wanted > activation_->settings.maxOutputBacklog) {
            closing_ = true;
            overflow = true;
        } else {
            queue_.push_back(std::exchange(spare_, std::string()));
            queue_.back().assign(bytes.data(), bytes.size());
            backlog_ = wanted;
            startWriting = !std::exchange(writing_, true);
        }
    }
    if (overflow) {
        asio::post(socket_.get_executor(), [self = shared_from_this(), wanted] {
            self->abort(SocketError(
                winsockCode(std::make_error_code(std::errc::no_buffer_space)),
                "output backlog of " + std::to_string(wanted) + " bytes exceeds the bound of " +
                    std::to_string(self->activation_->settings.maxOutputBacklog) + " bytes"));
        });
    } else if (startWriting) {
        if (sessionInHandler == this) {
            flushAfterHandler_ = true;  // on the strand: sent when the handler returns
        } else {
            asio::post(socket_.get_executor(), [self = shared_from_this()] { self->writeNext(); });
        }
    }
}

void TcpSession::writeNext() {
    while (true) {
        const std::string* front = nullptr;
        {
            std::lock_guard lock(mutex_);
            if (queue_.empty() || socketClosed_) {
                queue_.clear();
                backlog_ = 0;
                writing_ = false;
                frontSent_ = 0;
                return;
            }
            // Only this strand removes elements, and appending to a deque keeps references
            // valid.
            front = &queue_.front();
        }
        if (activation_->failNextWrite.exchange(false)) {
            asio::post(socket_.get_executor(), [self = shared_from_this()] {
                self->onWritten(std::make_error_code(std::errc::connection_reset));
            });
            return;
        }
        std::error_code error;
        frontSent_ += socket_.send(asio::buffer(*front) + frontSent_, 0, error);
        if (error == asio::error::would_block || error == asio::error::try_again) {
            error.clear();
        }
        if (!error && frontSent_ < front->size()) {
            // The socket is full: the reactor sends the rest as the peer reads.
            asio::async_write(
                socket_, asio::buffer(*front) + frontSent_,
                [self = shared_from_this()](const std::error_code& writeError, std::size_t) {
                    self->onWritten(writeError);
                });
            return;
        }
        if (!finishFront(error)) {
            return;
        }
    }
}

void TcpSession::onWritten(const std::error_code& error) {
    if (finishFront(error)) {
        writeNext();
    }
}

bool TcpSession::finishFront(const std::error_code& error) {
    frontSent_ = 0;
    bool more = false;
    bool drained = false;
    {
        std::lock_guard lock(mutex_);
        backlog_ -= queue_.front().size();
        if (queue_.front().capacity() <= activation_->settings.keptWriteBufferBytes) {
            spare_ = std::move(queue_.front());
        }
        queue_.pop_front();
        if (error || socketClosed_) {
            queue_.clear();
            backlog_ = 0;
            writing_ = false;
        } else if (queue_.empty()) {
            writing_ = false;
            drained = closing_;
        } else {
            more = true;
        }
    }
    if (error) {
        if (error != asio::error::operation_aborted && !socketClosed_) {
            abort(toSocketError(error, "write to " + peerAddress_));
        }
    } else if (drained) {
        closeSocket();
    }
    return more;
}

void TcpSession::close() {
    {
        std::lock_guard lock(mutex_);
        if (closing_) {
            return;
        }
        closing_ = true;
    }
    asio::post(socket_.get_executor(), [self = shared_from_this()] { self->closeWhenDrained(); });
}

void TcpSession::closeWhenDrained() {
    bool pending = false;
    {
        std::lock_guard lock(mutex_);
        pending = writing_;
    }
    if (!pending) {
        closeSocket();
        return;
    }
    drainTimer_.expires_after(activation_->settings.closeDrainTimeout);
    drainTimer_.async_wait([self = shared_from_this()](const std::error_code& error) {
        if (!error) {
            self->closeSocket();
        }
    });
}

void TcpSession::abort(const std::exception& reason) {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    activation_->reportException(shared_from_this(), reason);
    closeSocket();
}

void TcpSession::closeSocket() {
    if (socketClosed_) {
        return;
    }
    socketClosed_ = true;
    drainTimer_.cancel();
    std::error_code ignored;
    socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
}

void TcpSession::finish(const std::error_code& error) {
    const bool reportable =
        error && error != asio::error::eof && error != asio::error::operation_aborted;
    if (reportable && !socketClosed_) {
        activation_->reportException(shared_from_this(),
                                     toSocketError(error, "read from " + peerAddress_));
    }
    closeSocket();
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    activation_->registry.remove(id_);
    try {
        if (activation_->events.onDisconnect) {
            activation_->events.onDisconnect(shared_from_this());
        }
    } catch (const std::exception& handlerError) {
        activation_->reportException(shared_from_this(), handlerError);
    } catch (...) {
    }
}

bool TcpSession::connected() const {
    std::lock_guard lock(mutex_);
    return !closing_;
}

void TcpSession::setUserData(std::shared_ptr<void> data) {
    std::lock_guard lock(mutex_);
    userData_ = std::move(data);
}

std::shared_ptr<void> TcpSession::userData() const {
    std::lock_guard lock(mutex_);
    return userData_;
}

void TcpSession::setInputPending(bool pending) {
    if (!pending) {
        pendingSince_.store(kNotPending, std::memory_order_relaxed);
    } else if (pendingSince_.load(std::memory_order_relaxed) == kNotPending) {
        pendingSince_.store(lastInputAt_.load(std::memory_order_relaxed),
                            std::memory_order_relaxed);
    }
}

TcpSession::Timeout TcpSession::expiredTimeout(Clock::time_point now) const {
    const auto& settings = activation_->settings;
    const auto since = [&](const std::atomic<Clock::rep>& stamp) {
        return now - Clock::time_point(Clock::duration(stamp.load(std::memory_order_relaxed)));
    };
    // Checked first: an idle connection may hold unfinished input too, and idle says more.
    if (settings.idleTimeout.count() > 0 && since(lastInputAt_) >= settings.idleTimeout) {
        return Timeout::Idle;
    }
    // kNotPending lies far in the future: nothing pending never runs out.
    if (settings.unfinishedInputTimeout.count() > 0 &&
        since(pendingSince_) >= settings.unfinishedInputTimeout) {
        return Timeout::UnfinishedInput;
    }
    return Timeout::None;
}

bool TcpSession::timedOut(Clock::time_point now) const {
    return expiredTimeout(now) != Timeout::None;
}

void TcpSession::closeIfTimedOut() {
    asio::post(socket_.get_executor(), [self = shared_from_this()] {
        const Timeout timeout = self->expiredTimeout(Clock::now());
        if (timeout == Timeout::None) {
            return;
        }
        {
            std::lock_guard lock(self->mutex_);
            if (std::exchange(self->closing_, true)) {
                return;
            }
        }
        const auto& settings = self->activation_->settings;
        const std::string reason =
            timeout == Timeout::Idle
                ? "no input for " + std::to_string(settings.idleTimeout.count()) + " s"
                : "unfinished input for " +
                      std::to_string(settings.unfinishedInputTimeout.count()) + " s";
        self->activation_->reportException(
            self, SocketError(kConnectionTimedOut, reason + ", from " + self->peerAddress_ + ":" +
                                                       std::to_string(self->peerPort_)));
        self->closeWhenDrained();
    });
}

}  // namespace daq::tcp
