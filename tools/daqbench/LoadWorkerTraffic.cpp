// LoadWorker's traffic on a connection: the requests it sends, closed or open loop, and the
// answers it reads and checks (see LoadWorker.h).
#include "tools/daqbench/LoadWorker.h"

#include <openssl/err.h>
#include <sys/epoll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <utility>

namespace daqbench {

namespace {

// The result of SSL_read or SSL_write as recv() and send() give theirs.
ssize_t asSocketResult(SSL* session, int result) {
    if (result > 0) {
        return result;
    }
    switch (SSL_get_error(session, result)) {
        case SSL_ERROR_WANT_READ:
        case SSL_ERROR_WANT_WRITE:
            errno = EAGAIN;
            return -1;
        case SSL_ERROR_ZERO_RETURN:  // the server's close_notify
            return 0;
        default:
            errno = ECONNRESET;
            return -1;
    }
}

int clampToInt(std::size_t size) {
    return static_cast<int>(std::min<std::size_t>(size, INT_MAX));
}

}  // namespace

ssize_t LoadWorker::receive(Connection& connection, char* data, std::size_t size) {
    if (!connection.tls) {
        return ::recv(connection.fd, data, size, 0);
    }
    ERR_clear_error();  // SSL_get_error reads this thread's queue
    return asSocketResult(connection.tls.get(),
                          SSL_read(connection.tls.get(), data, clampToInt(size)));
}

ssize_t LoadWorker::transmit(Connection& connection, const char* data, std::size_t size) {
    if (!connection.tls) {
        return ::send(connection.fd, data, size, MSG_NOSIGNAL);
    }
    ERR_clear_error();
    return asSocketResult(connection.tls.get(),
                          SSL_write(connection.tls.get(), data, clampToInt(size)));
}

void LoadWorker::readAnswers(Connection& connection) {
    while (true) {
        const ssize_t received = receive(connection, receiveBuffer_.data(), receiveBuffer_.size());
        if (received == 0) {
            giveUp(connection, result_.errors.closed);
            return;
        }
        if (received < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                giveUp(connection, result_.errors.closed);
            }
            return;
        }
        const Clock::time_point now = Clock::now();
        std::string_view chunk(receiveBuffer_.data(), static_cast<std::size_t>(received));
        while (!chunk.empty() && connection.state != State::Dead) {
            const ScanStep step = connection.scanner.feed(chunk);
            chunk.remove_prefix(step.consumed);
            connection.answerBytes += step.consumed;
            if (!step.text.empty() && checksFront(connection)) {
                connection.text.append(step.text);
            }
            if (step.answerEnded) {
                onAnswerEnd(connection, now);
            }
        }
        // A short read took everything there was (TLS: the whole record, the next one still
        // in the socket); epoll tells when more comes.
        if (static_cast<std::size_t>(received) < receiveBuffer_.size() ||
            connection.state == State::Dead) {
            return;
        }
    }
}

bool LoadWorker::checksFront(const Connection& connection) const {
    if (connection.pendingCount == 0) {
        return false;
    }
    const std::uint8_t index = connection.pending[connection.pendingHead].templateIndex;
    if (index == kWarmTemplate) {
        return false;
    }
    return index == kLoginTemplate || plan_.verifyAll ||
           (connection.checkedTemplates & (1u << index)) == 0;
}

void LoadWorker::onAnswerEnd(Connection& connection, Clock::time_point now) {
    const std::size_t bytes = std::exchange(connection.answerBytes, 0);
    if (connection.pendingCount == 0) {
        ++result_.errors.badAnswer;  // an answer nobody asked for
        return;
    }
    const bool checked = checksFront(connection);
    const Pending front = connection.pending[connection.pendingHead];
    connection.pendingHead = (connection.pendingHead + 1) % connection.pending.size();
    --connection.pendingCount;

    if (front.templateIndex == kLoginTemplate) {
        const bool accepted = answerMatches({RequestKind::Login, {}, 0}, connection.text, true);
        connection.text.clear();
        if (!accepted) {
            giveUp(connection, result_.errors.login);
            return;
        }
        warmUp(connection);
        if (loadRunning_ && plan_.mode == LoadMode::Closed) {
            sendNextClosed(connection, now);
        }
        return;
    }
    if (front.templateIndex == kWarmTemplate) {
        connection.state = State::Ready;
        if (loadRunning_ && plan_.mode == LoadMode::Closed) {
            sendNextClosed(connection, now);
        }
        return;
    }

    const RequestTemplate& request = plan_.mix->at(front.templateIndex);
    if (checked) {
        if (!answerMatches(request, connection.text, false)) {
            ++result_.errors.badAnswer;
        }
        connection.text.clear();
        connection.checkedTemplates |= 1u << front.templateIndex;
    }
    if (measuring(now) && !done_) {
        result_.latency.record(
            static_cast<std::uint64_t>(std::max<std::int64_t>(0, (now - front.sentAt).count())));
        ++result_.answers;
        result_.values += static_cast<std::uint64_t>(request.entries);
        result_.bytesIn += bytes;
        if (plan_.maxRequests != 0 && result_.answers >= plan_.maxRequests) {
            done_ = true;
            result_.finishedAt = now;
        }
    }
    if (plan_.mode == LoadMode::Closed) {
        sendNextClosed(connection, now);
    }
}

void LoadWorker::sendNextClosed(Connection& connection, Clock::time_point now) {
    if (done_ || !loadRunning_ || connection.state != State::Ready) {
        return;
    }
    const NextRequest next = plan_.mix->next(connection.cursor);
    send(connection, next.frame, next.templateIndex, now);
}

void LoadWorker::sendDueOpen(Clock::time_point now) {
    const double interval = 1e9 / plan_.rate;  // nanoseconds between two sends of this worker
    const auto slotTime = [&](std::uint64_t slot) {
        return timeline_.start + std::chrono::nanoseconds(static_cast<std::int64_t>(
                                     std::llround(static_cast<double>(slot) * interval)));
    };
    // Round robin over the connections gives each its own steady rate, staggered.
    for (Clock::time_point due = slotTime(nextSlot_); due <= now && due < timeline_.stopAt;
         due = slotTime(++nextSlot_)) {
        Connection& connection = connections_[nextSlot_ % connections_.size()];
        if (done_ || connection.state != State::Ready) {
            continue;
        }
        if (connection.pendingCount == connection.pending.size()) {
            ++result_.errors.skipped;
            continue;
        }
        const NextRequest next = plan_.mix->next(connection.cursor);
        send(connection, next.frame, next.templateIndex, due);
    }
    armTimer(slotTime(nextSlot_));
}

// ---- Sending ----

void LoadWorker::send(Connection& connection, std::string_view frame, std::uint8_t templateIndex,
                      Clock::time_point sentAt) {
    const std::size_t slot =
        (connection.pendingHead + connection.pendingCount) % connection.pending.size();
    connection.pending[slot] = {sentAt, templateIndex};
    ++connection.pendingCount;
    if (measuring(sentAt)) {
        ++result_.sent;
    }
    if (!connection.unsent.empty()) {
        connection.unsent.append(frame);  // behind what waits already, in order
        return;
    }
    const ssize_t written = transmit(connection, frame.data(), frame.size());
    if (written == static_cast<ssize_t>(frame.size())) {
        return;
    }
    if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
        giveUp(connection, result_.errors.closed);
        return;
    }
    connection.unsent.assign(frame.substr(written < 0 ? 0 : static_cast<std::size_t>(written)));
    watchWrites(connection, true);
}

void LoadWorker::flush(Connection& connection) {
    while (!connection.unsent.empty()) {
        const ssize_t written =
            transmit(connection, connection.unsent.data(), connection.unsent.size());
        if (written < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                giveUp(connection, result_.errors.closed);
            }
            return;
        }
        connection.unsent.erase(0, static_cast<std::size_t>(written));
    }
    watchWrites(connection, false);
}

void LoadWorker::watchWrites(Connection& connection, bool on) {
    if (connection.watchingWrites == on && connection.state != State::Connecting) {
        return;
    }
    epoll_event event{};
    event.events = EPOLLIN | (on ? EPOLLOUT : 0u);
    event.data.u32 = static_cast<std::uint32_t>(&connection - connections_.data());
    ::epoll_ctl(epoll_, EPOLL_CTL_MOD, connection.fd, &event);
    connection.watchingWrites = on;
}

}  // namespace daqbench
