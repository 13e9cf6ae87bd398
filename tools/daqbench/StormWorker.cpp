#include "tools/daqbench/StormWorker.h"

#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <thread>

#include "tools/daqbench/RequestMix.h"
#include "tools/daqbench/SystemError.h"

namespace daqbench {

namespace {

constexpr int kEventsPerWait = 512;
constexpr std::size_t kReceiveBufferBytes = 16 * 1024;
constexpr auto kLongestWait = std::chrono::milliseconds(100);

std::uint64_t nanosecondsBetween(Clock::time_point from, Clock::time_point to) {
    return static_cast<std::uint64_t>(
        std::max<std::int64_t>(0, std::chrono::nanoseconds(to - from).count()));
}

}  // namespace

StormWorker::StormWorker(const WorkerPlan& plan)
    : plan_(plan),
      slots_(static_cast<std::size_t>(plan.connections)),
      receiveBuffer_(kReceiveBufferBytes) {
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    if (epoll_ < 0) {
        failWithErrno("epoll_create1");
    }
}

StormWorker::~StormWorker() {
    for (const Slot& slot : slots_) {
        if (slot.fd >= 0) {
            ::close(slot.fd);
        }
    }
    ::close(epoll_);
}

void StormWorker::run(const Timeline& timeline) {
    timeline_ = timeline;
    result_.finishedAt = timeline.stopAt;
    // The first starts are spread over one cycle.
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        slots_[i].deadline =
            timeline.start + plan_.cycle * static_cast<int>(i) / static_cast<int>(slots_.size());
    }
    std::this_thread::sleep_until(timeline.start);
    while (!done_) {
        Clock::time_point now = Clock::now();
        if (now >= timeline.stopAt) {
            break;
        }
        Clock::time_point next = std::min(timeline.stopAt, now + kLongestWait);
        for (Slot& slot : slots_) {
            if (slot.deadline <= now && !done_) {
                onDeadline(slot, now);
            }
            next = std::min(next, slot.deadline);
        }
        now = Clock::now();
        const auto wait =
            next <= now ? 0 : std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
        epoll_event events[kEventsPerWait];
        const int count = ::epoll_wait(epoll_, events, kEventsPerWait, static_cast<int>(wait));
        if (count < 0 && errno != EINTR) {
            failWithErrno("epoll_wait");
        }
        now = Clock::now();
        for (int i = 0; i < count && !done_; ++i) {
            Slot& slot = slots_[events[i].data.u32];
            if (slot.fd < 0) {
                continue;
            }
            if (slot.state == State::Connecting) {
                onConnected(slot, now);
            } else {
                onReadable(slot, now);
            }
        }
    }
    for (Slot& slot : slots_) {
        if (slot.fd >= 0) {
            ::close(slot.fd);
            slot.fd = -1;
        }
    }
}

void StormWorker::start(Slot& slot, Clock::time_point now) {
    slot.cycleStart = now;
    slot.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (slot.fd < 0) {
        ++result_.errors.connect;
        finish(slot);
        return;
    }
    const int on = 1;
    ::setsockopt(slot.fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    const auto* address = reinterpret_cast<const sockaddr*>(&plan_.address);
    if (::connect(slot.fd, address, sizeof plan_.address) != 0 && errno != EINPROGRESS) {
        ++result_.errors.connect;
        finish(slot);
        return;
    }
    watch(slot, EPOLLOUT, EPOLL_CTL_ADD);
    slot.state = State::Connecting;
    slot.deadline = now + plan_.timeout;
}

void StormWorker::onConnected(Slot& slot, Clock::time_point now) {
    int error = 0;
    socklen_t length = sizeof error;
    ::getsockopt(slot.fd, SOL_SOCKET, SO_ERROR, &error, &length);
    slot.connectedAt = now;
    if (error == ECONNRESET) {  // accepted, then closed with a reset before we saw it
        ++result_.serverCloses;
        result_.closeAfter.record(0);
        finish(slot);
        return;
    }
    if (error != 0) {
        ++result_.errors.connect;
        finish(slot);
        return;
    }
    watch(slot, EPOLLIN | EPOLLRDHUP, EPOLL_CTL_MOD);
    if (!plan_.loginFirst) {
        setUp(slot, now);
        return;
    }
    const std::string& login = plan_.mix->loginFrame();
    // A fresh connection's socket takes a LOGIN whole.
    if (::send(slot.fd, login.data(), login.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(login.size())) {
        onReadable(slot, now);  // the server closed it already
        return;
    }
    slot.state = State::LoggingIn;
    slot.scanner = AnswerScanner();
    slot.answer.clear();
    slot.deadline = now + plan_.timeout;
}

void StormWorker::onReadable(Slot& slot, Clock::time_point now) {
    while (slot.fd >= 0) {
        const ssize_t received = ::recv(slot.fd, receiveBuffer_.data(), receiveBuffer_.size(), 0);
        if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return;
        }
        if (received < 0 && errno == EINTR) {
            continue;
        }
        if (received <= 0) {
            ++result_.serverCloses;
            result_.closeAfter.record(nanosecondsBetween(slot.connectedAt, now));
            finish(slot);
            return;
        }
        std::string_view chunk(receiveBuffer_.data(), static_cast<std::size_t>(received));
        while (!chunk.empty() && slot.state == State::LoggingIn) {
            const ScanStep step = slot.scanner.feed(chunk);
            chunk.remove_prefix(step.consumed);
            slot.answer.append(step.text);
            if (!step.answerEnded) {
                continue;
            }
            if (answerMatches({RequestKind::Login, {}, 0}, slot.answer, true)) {
                setUp(slot, now);
            } else {
                ++result_.errors.login;
                finish(slot);
                return;
            }
        }
        // While holding, whatever the server sends is read and dropped.
    }
}

void StormWorker::setUp(Slot& slot, Clock::time_point now) {
    if (now >= timeline_.measureFrom) {
        result_.latency.record(nanosecondsBetween(slot.cycleStart, now));
    }
    slot.state = State::Holding;
    slot.deadline = now + plan_.hold;
    if (plan_.hold.count() == 0) {
        onDeadline(slot, now);
    }
}

void StormWorker::onDeadline(Slot& slot, Clock::time_point now) {
    switch (slot.state) {
        case State::Waiting:
            start(slot, now);
            return;
        case State::Connecting:
            ++result_.errors.connect;
            break;
        case State::LoggingIn:
            ++result_.errors.timeout;
            break;
        case State::Holding:
            if (now >= timeline_.measureFrom) {
                ++result_.answers;
                if (plan_.maxRequests != 0 && result_.answers >= plan_.maxRequests) {
                    done_ = true;
                    result_.finishedAt = now;
                }
            }
            break;
    }
    finish(slot);
}

void StormWorker::finish(Slot& slot) {
    if (slot.fd >= 0) {
        ::close(slot.fd);  // also leaves the epoll set
        slot.fd = -1;
    }
    slot.state = State::Waiting;
    slot.deadline = slot.cycleStart + plan_.cycle;
}

void StormWorker::watch(Slot& slot, std::uint32_t events, int operation) {
    epoll_event event{};
    event.events = events;
    event.data.u32 = static_cast<std::uint32_t>(&slot - slots_.data());
    if (::epoll_ctl(epoll_, operation, slot.fd, &event) != 0) {
        failWithErrno("epoll_ctl");
    }
}

}  // namespace daqbench
