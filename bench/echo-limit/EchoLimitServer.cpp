#include "bench/echo-limit/EchoLimitServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>

namespace daq::bench {

namespace {

constexpr char kStx = 0x02;
constexpr char kEtx = 0x03;
constexpr int kEventsPerWait = 512;
constexpr std::size_t kReceiveBufferBytes = 64 * 1024;
constexpr std::size_t kAnswersPerWrite = 64;
constexpr int kListenBacklog = 4096;

[[noreturn]] void fail(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

std::string paddedAnswer(std::size_t bytes) {
    const std::string head = "\x02{\"PS_ID\":true,\"PAD\":\"";
    const std::string tail = std::string("\"}\x03") + '\0';
    const std::size_t fixed = head.size() + tail.size();  // kShortestPaddedAnswer
    return head + std::string(std::max(bytes, fixed) - fixed, 'x') + tail;
}

EchoLimitServer::EchoLimitServer(EchoLimitSettings settings)
    : settings_(std::move(settings)), receiveBuffer_(kReceiveBufferBytes) {
    if (settings_.answer.empty()) {
        throw std::invalid_argument("the answer is empty");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(settings_.port);
    if (inet_pton(AF_INET, settings_.address.c_str(), &address.sin_addr) != 1) {
        throw std::invalid_argument("not an IPv4 address: " + settings_.address);
    }
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int on = 1;
    if (listener_ < 0 || setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, kListenBacklog) != 0) {
        const int error = errno;
        if (listener_ >= 0) {
            close(listener_);
        }
        errno = error;
        fail("listen");
    }
    socklen_t length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);

    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    stopEvent_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (epoll_ < 0 || stopEvent_ < 0) {
        fail("epoll");
    }
    for (const int fd : {listener_, stopEvent_}) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = fd;
        if (epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) != 0) {
            fail("epoll_ctl");
        }
    }
}

EchoLimitServer::~EchoLimitServer() {
    for (std::size_t fd = 0; fd < connections_.size(); ++fd) {
        if (connections_[fd].open) {
            close(static_cast<int>(fd));
        }
    }
    for (const int fd : {listener_, epoll_, stopEvent_}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

void EchoLimitServer::stop() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto ignored = write(stopEvent_, &one, sizeof one);
}

void EchoLimitServer::run() {
    epoll_event events[kEventsPerWait];
    while (true) {
        const int count = epoll_wait(epoll_, events, kEventsPerWait, -1);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail("epoll_wait");
        }
        for (int i = 0; i < count; ++i) {
            const int fd = events[i].data.fd;
            if (fd == stopEvent_) {
                return;
            }
            if (fd == listener_) {
                acceptAll();
                continue;
            }
            if ((events[i].events & (EPOLLIN | EPOLLERR | EPOLLHUP)) != 0) {
                onReadable(fd);
            }
            if ((events[i].events & EPOLLOUT) != 0 && connections_[fd].open) {
                writeOwed(fd);
            }
        }
    }
}

void EchoLimitServer::acceptAll() {
    while (true) {
        const int fd = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            return;  // EAGAIN, or out of descriptors: the next event tries again
        }
        const int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        if (static_cast<std::size_t>(fd) >= connections_.size()) {
            connections_.resize(static_cast<std::size_t>(fd) + 1);
        }
        connections_[fd] = Connection{};
        connections_[fd].open = true;
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = fd;
        epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event);
    }
}

void EchoLimitServer::onReadable(int fd) {
    Connection& connection = connections_[fd];
    const std::size_t owedBefore = connection.owed;
    while (true) {
        const ssize_t received = recv(fd, receiveBuffer_.data(), receiveBuffer_.size(), 0);
        if (received <= 0) {
            if (received < 0 && errno == EINTR) {
                continue;
            }
            if (received == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
                closeConnection(fd);
                return;
            }
            break;
        }
        const char* at = receiveBuffer_.data();
        const char* const end = at + received;
        while (at < end) {
            const char wanted = connection.inFrame ? kEtx : kStx;
            const void* found = std::memchr(at, wanted, static_cast<std::size_t>(end - at));
            if (found == nullptr) {
                break;
            }
            at = static_cast<const char*>(found) + 1;
            connection.owed += connection.inFrame ? 1 : 0;
            connection.inFrame = !connection.inFrame;
        }
        if (static_cast<std::size_t>(received) < receiveBuffer_.size()) {
            break;  // a short read took everything there was
        }
    }
    if (connection.owed > settings_.maxOwedAnswers) {
        closeConnection(fd);
    } else if (connection.owed > owedBefore && !connection.watchingWrites) {
        writeOwed(fd);
    }
}

void EchoLimitServer::writeOwed(int fd) {
    Connection& connection = connections_[fd];
    const std::string& answer = settings_.answer;
    while (connection.owed > 0) {
        iovec pieces[kAnswersPerWrite];
        const std::size_t count = std::min(connection.owed, kAnswersPerWrite);
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t skip = i == 0 ? connection.offset : 0;
            pieces[i].iov_base = const_cast<char*>(answer.data() + skip);
            pieces[i].iov_len = answer.size() - skip;
        }
        // Not writev: a client gone meanwhile must end its connection, not raise SIGPIPE.
        msghdr message{};
        message.msg_iov = pieces;
        message.msg_iovlen = count;
        const ssize_t written = ::sendmsg(fd, &message, MSG_NOSIGNAL);
        if (written < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                watchWrites(fd, true);
            } else {
                closeConnection(fd);
            }
            return;
        }
        const std::size_t total = connection.offset + static_cast<std::size_t>(written);
        connection.owed -= total / answer.size();
        connection.offset = total % answer.size();
    }
    watchWrites(fd, false);
}

void EchoLimitServer::watchWrites(int fd, bool on) {
    Connection& connection = connections_[fd];
    if (connection.watchingWrites == on) {
        return;
    }
    epoll_event event{};
    event.events = EPOLLIN | (on ? EPOLLOUT : 0u);
    event.data.fd = fd;
    epoll_ctl(epoll_, EPOLL_CTL_MOD, fd, &event);
    connection.watchingWrites = on;
}

void EchoLimitServer::closeConnection(int fd) {
    connections_[fd] = Connection{};
    close(fd);
}

}  // namespace daq::bench
