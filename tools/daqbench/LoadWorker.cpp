#include "tools/daqbench/LoadWorker.h"

#include <netinet/tcp.h>
#include <openssl/err.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>

#include "tools/client/TlsContext.h"
#include "tools/daqbench/SystemError.h"

namespace daqbench {

namespace {

constexpr std::uint32_t kTimerEvent = UINT32_MAX;
constexpr int kEventsPerWait = 512;
// Connections being set up at once: more only overflow the server's accept queue.
constexpr int kMaxConnectsAtOnce = 256;
// Large enough for a 1000-value answer in one read.
constexpr std::size_t kReceiveBufferBytes = 256 * 1024;
constexpr auto kTimeoutCheckInterval = std::chrono::milliseconds(100);

int waitMilliseconds(Clock::time_point now, Clock::time_point until) {
    if (until <= now) {
        return 0;
    }
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
    return static_cast<int>(std::min<long long>(wait, 1000));
}

}  // namespace

void ErrorCounts::add(const ErrorCounts& other) {
    connect += other.connect;
    login += other.login;
    closed += other.closed;
    timeout += other.timeout;
    badAnswer += other.badAnswer;
    skipped += other.skipped;
}

LoadWorker::LoadWorker(const WorkerPlan& plan)
    : plan_(plan),
      connections_(static_cast<std::size_t>(plan.connections)),
      receiveBuffer_(kReceiveBufferBytes) {
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    if (epoll_ < 0) {
        failWithErrno("epoll_create1");
    }
    const std::size_t inFlight =
        plan_.mode == LoadMode::Open ? static_cast<std::size_t>(plan_.maxInFlight) : 1;
    for (std::size_t i = 0; i < connections_.size(); ++i) {
        connections_[i].pending.resize(inFlight);
        connections_[i].cursor = plan_.mix->startFor(plan_.firstConnection + i);
    }
}

LoadWorker::~LoadWorker() {
    for (Connection& connection : connections_) {
        if (connection.fd >= 0) {
            ::close(connection.fd);
        }
    }
    if (timer_ >= 0) {
        ::close(timer_);
    }
    ::close(epoll_);
}

// ---- Connecting ----

void LoadWorker::connectAll() {
    if (plan_.mode == LoadMode::Handshakes) {
        return;
    }
    startNextConnects();
    while (connecting_ > 0 || nextToConnect_ < connections_.size()) {
        const auto now = Clock::now();
        checkTimeouts(now);
        poll(now + kTimeoutCheckInterval);
    }
    // Logins and first requests still under way finish here.
    while (std::any_of(connections_.begin(), connections_.end(), [](const Connection& c) {
        return c.state == State::LoggingIn || c.state == State::Warming;
    })) {
        const auto now = Clock::now();
        checkTimeouts(now);
        poll(now + kTimeoutCheckInterval);
    }
}

void LoadWorker::startNextConnects() {
    while (connecting_ < kMaxConnectsAtOnce && nextToConnect_ < connections_.size()) {
        startConnect(connections_[nextToConnect_++]);
    }
}

void LoadWorker::startConnect(Connection& connection) {
    ++live_;
    connection.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (connection.fd < 0) {
        giveUp(connection, result_.errors.connect);
        return;
    }
    const int on = 1;
    ::setsockopt(connection.fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    const auto* address = reinterpret_cast<const sockaddr*>(&plan_.address);
    if (::connect(connection.fd, address, sizeof plan_.address) != 0 && errno != EINPROGRESS) {
        giveUp(connection, result_.errors.connect);
        return;
    }
    epoll_event event{};
    event.events = EPOLLOUT;
    event.data.u32 = static_cast<std::uint32_t>(&connection - connections_.data());
    if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, connection.fd, &event) != 0) {
        failWithErrno("epoll_ctl");
    }
    connection.state = State::Connecting;
    // The connect time-out runs like an answer's.
    connection.pending[0] = {Clock::now(), kLoginTemplate};
    ++connecting_;
}

void LoadWorker::failConnect(Connection& connection) {
    --connecting_;
    giveUp(connection, result_.errors.connect);
    startNextConnects();
}

void LoadWorker::onConnected(Connection& connection) {
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(connection.fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
        failConnect(connection);
        return;
    }
    watchWrites(connection, false);
    if (plan_.tls == nullptr) {
        beginTraffic(connection);
        return;
    }
    connection.tls.reset(SSL_new(plan_.tls));
    if (!connection.tls || SSL_set_fd(connection.tls.get(), connection.fd) != 1) {
        failConnect(connection);
        return;
    }
    // A request that waits for the socket is sent again from the connection's own buffer,
    // which grows meanwhile.
    SSL_set_mode(connection.tls.get(),
                 SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    daq::client::prepareTlsSession(connection.tls.get(), plan_.tlsSettings,
                                   plan_.tlsSettings.serverName);
    if (connection.session) {
        SSL_set_session(connection.tls.get(), connection.session.get());
    }
    connection.state = State::Handshaking;
    continueHandshake(connection);
}

void LoadWorker::continueHandshake(Connection& connection) {
    ERR_clear_error();
    const int done = SSL_connect(connection.tls.get());
    if (done == 1) {
        watchWrites(connection, false);
        beginTraffic(connection);
        return;
    }
    const int reason = SSL_get_error(connection.tls.get(), done);
    if (reason == SSL_ERROR_WANT_READ || reason == SSL_ERROR_WANT_WRITE) {
        watchWrites(connection, reason == SSL_ERROR_WANT_WRITE);
        return;
    }
    failConnect(connection);
}

void LoadWorker::beginTraffic(Connection& connection) {
    if (plan_.mode == LoadMode::Handshakes) {
        onHandshake(connection);
        return;
    }
    --connecting_;
    if (plan_.loginFirst) {
        connection.state = State::LoggingIn;
        send(connection, plan_.mix->loginFrame(), kLoginTemplate, Clock::now());
    } else {
        warmUp(connection);
    }
    startNextConnects();
}

void LoadWorker::onHandshake(Connection& connection) {
    const Clock::time_point now = Clock::now();
    if (measuring(now) && !done_) {
        ++result_.answers;
        result_.latency.record(static_cast<std::uint64_t>(
            std::chrono::nanoseconds(now - connection.pending[0].sentAt).count()));
        result_.resumed += SSL_session_reused(connection.tls.get()) == 1;
        if (plan_.maxRequests != 0 && result_.answers >= plan_.maxRequests) {
            done_ = true;
            result_.finishedAt = now;
        }
    }
    connection.state = State::Ticket;
    keepSession(connection);
}

void LoadWorker::keepSession(Connection& connection) {
    SSL* const tls = connection.tls.get();
    if (plan_.resume && SSL_SESSION_is_resumable(SSL_get0_session(tls)) != 1) {
        // Takes in the tickets that came; the server sends nothing else unasked.
        char byte = 0;
        ERR_clear_error();
        const int read = SSL_read(tls, &byte, 1);
        if (read > 0 || SSL_get_error(tls, read) != SSL_ERROR_WANT_READ) {
            failConnect(connection);
            return;
        }
        if (SSL_SESSION_is_resumable(SSL_get0_session(tls)) != 1) {
            return;  // again on the next input
        }
    }
    if (plan_.resume) {
        connection.session.reset(SSL_get1_session(tls));
    }
    reconnect(connection);
}

void LoadWorker::reconnect(Connection& connection) {
    SSL_shutdown(connection.tls.get());  // close_notify, without waiting for the server's
    connection.tls.reset();
    ::close(connection.fd);
    connection.fd = -1;
    connection.state = State::Dead;
    --connecting_;
    --live_;
    if (done_ || Clock::now() >= timeline_.stopAt) {
        return;
    }
    startNextConnects();
    startConnect(connection);
}

void LoadWorker::warmUp(Connection& connection) {
    connection.state = State::Ready;
    if (plan_.warmFirst) {
        connection.state = State::Warming;
        send(connection, plan_.mix->next(connection.cursor).frame, kWarmTemplate, Clock::now());
    }
}

// ---- The load ----

bool LoadWorker::measuring(Clock::time_point now) const {
    return loadRunning_ && now >= timeline_.measureFrom;
}

void LoadWorker::run(const Timeline& timeline) {
    timeline_ = timeline;
    result_.ready = static_cast<int>(
        std::count_if(connections_.begin(), connections_.end(),
                      [](const Connection& c) { return c.state == State::Ready; }));
    result_.finishedAt = timeline.stopAt;
    std::this_thread::sleep_until(timeline.start);
    loadRunning_ = true;

    const Clock::time_point now = Clock::now();
    if (plan_.mode == LoadMode::Closed) {
        for (Connection& connection : connections_) {
            if (connection.state == State::Ready) {
                sendNextClosed(connection, now);
            }
        }
    } else if (plan_.mode == LoadMode::Handshakes) {
        startNextConnects();
    } else if (plan_.mode == LoadMode::Open) {
        timer_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        if (timer_ < 0) {
            failWithErrno("timerfd_create");
        }
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u32 = kTimerEvent;
        if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, timer_, &event) != 0) {
            failWithErrno("epoll_ctl");
        }
        sendDueOpen(now);
    }
    nextTimeoutCheck_ = now + kTimeoutCheckInterval;
    while (!done_ && live_ > 0) {
        const Clock::time_point before = Clock::now();
        if (before >= timeline_.stopAt) {
            break;
        }
        if (before >= nextTimeoutCheck_) {
            checkTimeouts(before);
            nextTimeoutCheck_ = before + kTimeoutCheckInterval;
        }
        poll(std::min(timeline_.stopAt, nextTimeoutCheck_));
    }
    loadRunning_ = false;
}

void LoadWorker::poll(Clock::time_point until) {
    epoll_event events[kEventsPerWait];
    const int count =
        ::epoll_wait(epoll_, events, kEventsPerWait, waitMilliseconds(Clock::now(), until));
    if (count < 0) {
        if (errno == EINTR) {
            return;
        }
        failWithErrno("epoll_wait");
    }
    for (int i = 0; i < count; ++i) {
        handleEvent(events[i].data.u32, events[i].events);
    }
}

void LoadWorker::handleEvent(std::uint32_t index, std::uint32_t events) {
    if (index == kTimerEvent) {
        std::uint64_t expirations = 0;
        [[maybe_unused]] const auto ignored = ::read(timer_, &expirations, sizeof expirations);
        sendDueOpen(Clock::now());
        return;
    }
    Connection& connection = connections_[index];
    if (connection.state == State::Connecting) {
        onConnected(connection);
        return;
    }
    if (connection.state == State::Handshaking) {
        continueHandshake(connection);
        return;
    }
    if (connection.state == State::Ticket) {
        keepSession(connection);
        return;
    }
    if (connection.state == State::Dead) {
        return;
    }
    if ((events & EPOLLIN) != 0) {
        readAnswers(connection);
    } else if ((events & (EPOLLERR | EPOLLHUP)) != 0) {
        giveUp(connection, result_.errors.closed);
        return;
    }
    if (connection.state != State::Dead && (events & EPOLLOUT) != 0) {
        flush(connection);
    }
}

void LoadWorker::armTimer(Clock::time_point at) {
    const auto since = at.time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
    itimerspec expiry{};
    expiry.it_value.tv_sec = seconds.count();
    expiry.it_value.tv_nsec = std::chrono::nanoseconds(since - seconds).count();
    if (expiry.it_value.tv_sec == 0 && expiry.it_value.tv_nsec == 0) {
        expiry.it_value.tv_nsec = 1;  // zero would disarm it
    }
    ::timerfd_settime(timer_, TFD_TIMER_ABSTIME, &expiry, nullptr);
}

// ---- Failures ----

void LoadWorker::giveUp(Connection& connection, std::uint64_t& errorCount) {
    ++errorCount;
    connection.tls.reset();
    if (connection.fd >= 0) {
        ::close(connection.fd);  // also leaves the epoll set
        connection.fd = -1;
    }
    connection.state = State::Dead;
    connection.pendingCount = 0;
    --live_;
}

void LoadWorker::checkTimeouts(Clock::time_point now) {
    for (Connection& connection : connections_) {
        // The handshake (and its ticket) runs in the connect time-out.
        const bool connecting = connection.state == State::Connecting ||
                                connection.state == State::Handshaking ||
                                connection.state == State::Ticket;
        const bool waiting = connecting || connection.pendingCount > 0;
        if (waiting && connection.state != State::Dead &&
            now - connection.pending[connection.pendingHead].sentAt > plan_.timeout) {
            if (connecting) {
                failConnect(connection);
            } else {
                giveUp(connection, result_.errors.timeout);
            }
        }
    }
}

}  // namespace daqbench
