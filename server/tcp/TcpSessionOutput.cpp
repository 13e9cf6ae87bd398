// TcpSession's output side: the write queue drained from the strand, and the close that lets
// it go first (see TcpSession.h).
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

void TcpSession::flush() {
    if (std::exchange(flushDue_, false)) {
        writeNext();
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
        if (tls_ && !activation_->failNextWrite.load()) {
            writeTls(*front);
            return;
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
        closeDrained();
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
        closeDrained();
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

}  // namespace daq::tcp
