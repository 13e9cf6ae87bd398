#include "server/tcp/TcpSession.h"

#include <linux/sockios.h>
#include <sys/ioctl.h>

#include <algorithm>
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

TcpSession::TcpSession(std::shared_ptr<TcpActivation> activation, asio::ip::tcp::socket socket,
                       std::uint64_t id)
    : activation_(std::move(activation)),
      socket_(std::move(socket)),
      drainTimer_(socket_.get_executor()),
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

TcpSession::Clock::time_point TcpSession::now() const {
    return activation_->settings.clock();
}

void TcpSession::start() {
    asio::post(socket_.get_executor(), [self = shared_from_this()] {
        self->runHandler([&] {
            if (self->activation_->events.onConnect) {
                self->activation_->events.onConnect(self);
            }
        });
        self->flush();
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
}

void TcpSession::flush() {
    if (std::exchange(flushDue_, false)) {
        writeNext();
    }
}

void TcpSession::readNext() {
    if (socketClosed_) {
        return;
    }
    readPending_ = true;
    socket_.async_read_some(
        asio::buffer(readBuffer_.get(), activation_->settings.readChunkBytes),
        [self = shared_from_this()](const std::error_code& error, std::size_t length) {
            self->onRead(error, length);
        });
}

void TcpSession::onRead(const std::error_code& error, std::size_t length) {
    readPending_ = false;
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
                self->onWritten(std::make_error_code(std::errc::connection_reset), 0);
            });
            return;
        }
        std::error_code error;
        frontSent_ += socket_.send(asio::buffer(*front) + frontSent_, 0, error);
        if (error == asio::error::would_block || error == asio::error::try_again) {
            error.clear();
        }
        if (!error && frontSent_ < front->size()) {
            // The socket is full: the reactor sends more as the peer reads.
            socket_.async_write_some(
                asio::buffer(*front) + frontSent_,
                [self = shared_from_this()](const std::error_code& writeError, std::size_t sent) {
                    self->onWritten(writeError, sent);
                });
            return;
        }
        if (!finishFront(error)) {
            return;
        }
    }
}

void TcpSession::onWritten(const std::error_code& error, std::size_t length) {
    frontSent_ += length;
    if (!error) {
        bool frontDone = true;
        {
            std::lock_guard lock(mutex_);
            frontDone = frontSent_ >= queue_.front().size();
        }
        if (!frontDone) {
            writeNext();
            return;
        }
    }
    if (finishFront(error)) {
        writeNext();
    }
}

bool TcpSession::finishFront(const std::error_code& error) {
    frontSent_ = 0;
    bool more = false;
    bool drained = false;
    bool resume = false;
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
        resume = inputPaused_ && !error && backlog_ <= activation_->settings.maxOutputBacklog / 4;
    }
    if (error) {
        if (error != asio::error::operation_aborted && !socketClosed_) {
            abort(toSocketError(error, "write to " + peerAddress_));
        }
    } else if (drained) {
        closeSocket();
    } else if (resume) {
        inputPaused_ = false;
        asio::post(socket_.get_executor(), [self = shared_from_this()] { self->deliverInput(); });
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
    drainLeft_ = SIZE_MAX;
    armDrainTimer();
}

void TcpSession::armDrainTimer() {
    drainTimer_.expires_after(activation_->settings.closeDrainTimeout);
    drainTimer_.async_wait([self = shared_from_this()](const std::error_code& error) {
        if (!error) {
            self->onDrainTimer();
        }
    });
}

std::size_t TcpSession::bytesLeftToSend() {
    // The kernel's part included: the socket reports being writable only once a third of its
    // buffer is free, which a slow reader may take longer for than a time-out.
    int unsent = 0;
    if (::ioctl(socket_.native_handle(), SIOCOUTQ, &unsent) != 0) {
        unsent = 0;
    }
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(std::max(unsent, 0)) + backlog_ - frontSent_;
}

void TcpSession::onDrainTimer() {
    if (socketClosed_) {
        return;
    }
    const std::size_t left = bytesLeftToSend();
    if (left < drainLeft_) {
        drainLeft_ = left;  // the peer took some: wait on
        armDrainTimer();
        return;
    }
    closeSocket();
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
    // A read under way ends with the close and reports the disconnect; with none (input ended
    // or held back), it is reported from here, after whatever runs now.
    if (!readPending_) {
        asio::post(socket_.get_executor(), [self = shared_from_this()] { self->finish({}); });
    }
}

void TcpSession::finish(const std::error_code& error) {
    if (std::exchange(finished_, true)) {
        return;
    }
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
    return !idleReported_.load(std::memory_order_relaxed) &&
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

void TcpSession::reportIdle() {
    if (socketClosed_ || inputPaused_ || inputAt_ < inputEnd_) {
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
