#include "tools/daqbench/SilentWriter.h"

#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <thread>

#include "server/protocol/Frame.h"
#include "tools/daqbench/RequestMix.h"
#include "tools/daqbench/SystemError.h"

namespace daqbench {

namespace {

constexpr int kEventsPerWait = 64;
// Requests written per send when stuck: enough to fill the socket in few calls.
constexpr std::size_t kPipelineBytes = 64 * 1024;
constexpr auto kLongestWait = std::chrono::milliseconds(100);

}  // namespace

SilentWriter::SilentWriter(const WorkerPlan& plan)
    : plan_(plan), connections_(static_cast<std::size_t>(plan.connections)) {
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    if (epoll_ < 0) {
        failWithErrno("epoll_create1");
    }
    if (plan_.mode == LoadMode::Stuck) {
        if (plan_.loginFirst) {
            login_ = plan_.mix->loginFrame();
        }
        MixCursor cursor;
        while (pipeline_.size() < kPipelineBytes) {
            pipeline_.append(plan_.mix->next(cursor).frame);
        }
    } else {
        chunk_.assign(static_cast<std::size_t>(plan_.chunkBytes), 'x');
    }
}

SilentWriter::~SilentWriter() {
    for (const Connection& connection : connections_) {
        if (connection.fd >= 0) {
            ::close(connection.fd);
        }
    }
    ::close(epoll_);
}

void SilentWriter::connectAll() {
    for (Connection& connection : connections_) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            ++result_.errors.connect;
            continue;
        }
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        const auto* address = reinterpret_cast<const sockaddr*>(&plan_.address);
        int error = 0;
        if (::connect(fd, address, sizeof plan_.address) != 0) {
            error = errno;
            pollfd wait{fd, POLLOUT, 0};
            if (error == EINPROGRESS &&
                ::poll(&wait, 1, static_cast<int>(plan_.timeout.count())) == 1) {
                socklen_t length = sizeof error;
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
            }
        }
        if (error != 0) {
            ::close(fd);
            ++result_.errors.connect;
            continue;
        }
        epoll_event event{};
        event.events = EPOLLRDHUP | (plan_.mode == LoadMode::Stuck ? EPOLLOUT : 0u);
        event.data.u32 = static_cast<std::uint32_t>(&connection - connections_.data());
        if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) != 0) {
            failWithErrno("epoll_ctl");
        }
        connection.fd = fd;
        connection.connectedAt = Clock::now();
        ++open_;
    }
    result_.ready = open_;
}

void SilentWriter::run(const Timeline& timeline) {
    result_.finishedAt = timeline.stopAt;
    std::this_thread::sleep_until(timeline.start);
    Clock::time_point nextChunk = timeline.start;
    while (open_ > 0) {
        Clock::time_point now = Clock::now();
        if (now >= timeline.stopAt) {
            break;
        }
        if (plan_.mode == LoadMode::Endless && now >= nextChunk) {
            for (Connection& connection : connections_) {
                if (connection.fd >= 0) {
                    writeChunk(connection, now);
                }
            }
            nextChunk += plan_.chunkInterval;
            nextChunk = std::max(nextChunk, now);  // a late tick is not made up for
        }
        Clock::time_point until = std::min({timeline.stopAt, now + kLongestWait});
        if (plan_.mode == LoadMode::Endless) {
            until = std::min(until, nextChunk);
        }
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
        epoll_event events[kEventsPerWait];
        const int count = ::epoll_wait(epoll_, events, kEventsPerWait, static_cast<int>(wait));
        if (count < 0 && errno != EINTR) {
            failWithErrno("epoll_wait");
        }
        now = Clock::now();
        for (int i = 0; i < count; ++i) {
            Connection& connection = connections_[events[i].data.u32];
            if (connection.fd < 0) {
                continue;
            }
            if ((events[i].events & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) != 0) {
                closedByServer(connection, now);
            } else if ((events[i].events & EPOLLOUT) != 0) {
                fillPipeline(connection, now);
            }
        }
        if (open_ == 0) {
            result_.finishedAt = now;
        }
    }
}

void SilentWriter::fillPipeline(Connection& connection, Clock::time_point now) {
    // The LOGIN first, then the requests round and round; `offset` runs over both.
    while (connection.fd >= 0) {
        const bool inLogin = connection.offset < login_.size();
        const std::string& source = inLogin ? login_ : pipeline_;
        const std::size_t start =
            inLogin ? connection.offset : (connection.offset - login_.size()) % pipeline_.size();
        std::size_t written = 0;
        if (!writeSome(connection, source.data() + start, source.size() - start, written, now) ||
            written == 0) {
            return;
        }
        connection.offset += written;
    }
}

void SilentWriter::writeChunk(Connection& connection, Clock::time_point now) {
    std::size_t written = 0;
    if (!connection.started) {
        const char stx = daq::protocol::kStx;
        if (!writeSome(connection, &stx, 1, written, now) || written == 0) {
            return;
        }
        connection.started = true;
    }
    // A chunk the socket does not take whole is cut: the frame only has to go on and on.
    writeSome(connection, chunk_.data(), chunk_.size(), written, now);
}

bool SilentWriter::writeSome(Connection& connection, const char* data, std::size_t size,
                             std::size_t& written, Clock::time_point now) {
    written = 0;
    const ssize_t sent = ::send(connection.fd, data, size, MSG_NOSIGNAL);
    if (sent >= 0) {
        written = static_cast<std::size_t>(sent);
        result_.bytesOut += written;
        return true;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
        return true;
    }
    // EPIPE or ECONNRESET: the server closed it; nothing else fails a send on loopback.
    closedByServer(connection, now);
    return false;
}

void SilentWriter::closedByServer(Connection& connection, Clock::time_point now) {
    ++result_.serverCloses;
    result_.closeAfter.record(static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(now - connection.connectedAt)
            .count()));
    ::close(connection.fd);
    connection.fd = -1;
    --open_;
}

}  // namespace daqbench
