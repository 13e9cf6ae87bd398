#include "server/tcp/TcpSession.h"

#include <cstdint>
#include <utility>

#include <asio/post.hpp>

#include "server/tcp/TcpActivation.h"
#include "server/tcp/WinsockCode.h"

namespace daq::tcp {

namespace {

// The connection whose handler runs on this thread, on its strand: what it writes is sent by
// this thread once the handlers for the current read are done.
thread_local const TcpSession* sessionInHandler = nullptr;

// Answers queued for one read are sent together up to this size; a larger answer leaves as
// soon as it is queued, so the first of several large pipelined answers does not wait for the
// others to be built.
constexpr std::size_t kFlushBytes = 64 * 1024;

}  // namespace

TcpSession::Clock::time_point TcpSession::now() const {
    return activation_->settings.clock();
}

void TcpSession::connectAndRead() {
    connected_ = true;
    runHandler([&] {
        if (activation_->events.onConnect) {
            activation_->events.onConnect(shared_from_this());
        }
    });
    flush();
    readNext();
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
}

void TcpSession::readNext() {
    if (socketClosed_) {
        return;
    }
    readPending_ = true;
    if (tls_) {
        readTls();
        return;
    }
    socket_.async_read_some(
        asio::buffer(readBuffer_.get(), activation_->settings.readChunkBytes),
        [self = shared_from_this()](const std::error_code& error, std::size_t length) {
            self->onRead(error, length);
        });
}

void TcpSession::onRead(const std::error_code& error, std::size_t length) {
    readPending_ = false;
    if (tlsClosing_ && !socketClosed_) {
        sendCloseNotify();  // the read was cancelled for it (TcpSessionTls.cpp)
        return;
    }
    if (error == asio::error::eof && !socketClosed_) {
        inputEnded_ = true;
        endOfInput();
        return;
    }
    if (error || socketClosed_) {
        finish(error);
        return;
    }
    lastInputAt_.store(stamp(now()), std::memory_order_relaxed);
    idleReported_.store(false, std::memory_order_relaxed);
    inputAt_ = 0;
    inputEnd_ = length;
    deliverInput();
}

void TcpSession::deliverInput() {
    while (inputAt_ < inputEnd_ && !socketClosed_) {
        const Output output = outputState();
        // Bytes that arrive while the connection closes have nobody left to answer them.
        if (!activation_->events.onData || output.closing) {
            inputAt_ = inputEnd_;
            break;
        }
        if (output.queued > activation_->settings.maxOutputBacklog / 4) {
            // Paused before the flush: a write that completes at once resumes the input.
            inputPaused_ = true;
            flush();
            // Requests the server holds back count as unfinished input while the client takes
            // none of its answers (the sweep looks for progress): a client that never reads
            // them is closed by the unfinished-input time-out.
            restartPendingClock();
            pausedLeft_ = bytesLeftToSend();
            return;
        }
        if (output.queued >= kFlushBytes) {
            flush();
        }
        const std::string_view rest(readBuffer_.get() + inputAt_, inputEnd_ - inputAt_);
        // Input the handler reports pending from here on is pending since now: it may have
        // been held back long after it was read.
        eventAt_ = stamp(now());
        std::size_t taken = rest.size();
        runHandler([&] { taken = activation_->events.onData(shared_from_this(), rest); });
        inputAt_ += taken == 0 || taken > rest.size() ? rest.size() : taken;
    }
    flush();
    if (socketClosed_) {
        return;
    }
    if (inputEnded_) {
        endOfInput();
    } else {
        readNext();
    }
}

TcpSession::Output TcpSession::outputState() const {
    std::lock_guard lock(mutex_);
    return {backlog_, closing_};
}

void TcpSession::endOfInput() {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    closeWhenDrained();
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
        // Answers written by the connection's own handlers are bounded by the back-pressure
        // (no request is served while a quarter of the bound is queued); the bound closes the
        // connection only for writes from elsewhere that pile up (the stop notice).
        if (wanted > activation_->settings.maxOutputBacklog && sessionInHandler != this) {
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
            flushDue_ = true;  // on the strand: sent when the handlers of this read are done
        } else {
            asio::post(socket_.get_executor(), [self = shared_from_this()] { self->writeNext(); });
        }
    }
}

void TcpSession::finish(const std::error_code& error) {
    if (std::exchange(finished_, true)) {
        return;
    }
    const bool reportable =
        error && error != asio::error::eof && error != asio::error::operation_aborted;
    if (reportable && !socketClosed_ && connected_) {
        activation_->reportException(shared_from_this(),
                                     toSocketError(error, "read from " + peerAddress_));
    }
    closeSocket();
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    activation_->registry.remove(id_);
    if (!connected_) {
        return;  // the owner never saw it (a TLS handshake that did not succeed)
    }
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
        pendingSince_.store(eventAt_, std::memory_order_relaxed);
    }
}

void TcpSession::restartPendingClock() {
    pendingSince_.store(stamp(now()), std::memory_order_relaxed);
}

TcpSession::Timeout TcpSession::expiredTimeout(Clock::time_point at) const {
    const auto& settings = activation_->settings;
    const auto since = [&](const std::atomic<Clock::rep>& time) {
        return at - Clock::time_point(Clock::duration(time.load(std::memory_order_relaxed)));
    };
    // Until its handshake is done, a TLS connection has no other time-out: the owner, who
    // would hear of it, has not seen it yet.
    if (handshakeSince_.load(std::memory_order_relaxed) != kNotPending) {
        return since(handshakeSince_) >= settings.tlsHandshakeTimeout ? Timeout::Handshake
                                                                      : Timeout::None;
    }
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

bool TcpSession::idleDue(Clock::time_point at) const {
    const Clock::time_point lastInput(
        Clock::duration(lastInputAt_.load(std::memory_order_relaxed)));
    return handshakeSince_.load(std::memory_order_relaxed) == kNotPending &&
           !idleReported_.load(std::memory_order_relaxed) &&
           at - lastInput >= activation_->settings.idleTrimDelay;
}

bool TcpSession::sweepDue(Clock::time_point at) const {
    return expiredTimeout(at) != Timeout::None || idleDue(at);
}

void TcpSession::sweep() {
    asio::post(socket_.get_executor(), [self = shared_from_this()] {
        const Clock::time_point at = self->now();
        Timeout timeout = self->expiredTimeout(at);
        if (timeout == Timeout::UnfinishedInput && self->inputPaused_) {
            // Held-back requests while the client still takes its answers: not stuck.
            const std::size_t left = self->bytesLeftToSend();
            if (left < self->pausedLeft_) {
                self->pausedLeft_ = left;
                self->restartPendingClock();
                timeout = Timeout::None;
            }
        }
        if (timeout == Timeout::None) {
            if (self->idleDue(at)) {
                self->reportIdle();
            }
            return;
        }
        {
            std::lock_guard lock(self->mutex_);
            if (std::exchange(self->closing_, true)) {
                return;
            }
        }
        const auto& settings = self->activation_->settings;
        const std::string peer = self->peerAddress_ + ":" + std::to_string(self->peerPort_);
        if (timeout == Timeout::Handshake) {
            // Reported without the connection, which the owner never saw.
            self->activation_->reportException(
                nullptr, SocketError(kConnectionTimedOut,
                                     "TLS handshake not done in " +
                                         std::to_string(settings.tlsHandshakeTimeout.count()) +
                                         " s, from " + peer));
            self->closeSocket();
            return;
        }
        const std::string reason =
            timeout == Timeout::Idle
                ? "no input for " + std::to_string(settings.idleTimeout.count()) + " s"
                : "unfinished input for " +
                      std::to_string(settings.unfinishedInputTimeout.count()) + " s";
        self->activation_->reportException(
            self, SocketError(kConnectionTimedOut, reason + ", from " + peer));
        self->closeWhenDrained();
    });
}

void TcpSession::reportIdle() {
    if (socketClosed_ || !connected_ || inputPaused_ || inputAt_ < inputEnd_) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        if (writing_ || closing_) {
            return;  // not idle: the next sweep looks again
        }
        spare_ = std::string();
    }
    idleReported_.store(true, std::memory_order_relaxed);
    runHandler([&] {
        if (activation_->events.onIdle) {
            activation_->events.onIdle(shared_from_this());
        }
    });
    flush();
}

}  // namespace daq::tcp
