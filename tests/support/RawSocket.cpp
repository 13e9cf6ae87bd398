#include "tests/support/RawSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace daq::test {

namespace {

using Clock = std::chrono::steady_clock;

// Waits until the socket is readable or the deadline passes.
bool readable(int fd, Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd watched{fd, POLLIN, 0};
    return left.count() > 0 && ::poll(&watched, 1, static_cast<int>(left.count())) > 0;
}

}  // namespace

RawSocket::~RawSocket() {
    close();
}

bool RawSocket::connect(uint16_t port, int receiveBufferBytes) {
    close();
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        return false;
    }
    if (receiveBufferBytes > 0) {
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBufferBytes, sizeof receiveBufferBytes);
    }
    const int noDelay = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close();
        return false;
    }
    return true;
}

bool RawSocket::send(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

RawSocket::Drained RawSocket::receiveUntilClosed(std::chrono::milliseconds timeout,
                                                 std::size_t limit) {
    const auto deadline = Clock::now() + timeout;
    Drained drained;
    char chunk[64 * 1024];
    while (drained.bytes.size() < limit && readable(fd_, deadline)) {
        const ssize_t size =
            ::recv(fd_, chunk, std::min(sizeof chunk, limit - drained.bytes.size()), 0);
        if (size < 0 && errno == EINTR) {
            continue;
        }
        if (size <= 0) {
            drained.closed = true;
            break;
        }
        drained.bytes.append(chunk, static_cast<std::size_t>(size));
    }
    return drained;
}

void RawSocket::shutdownSending() {
    ::shutdown(fd_, SHUT_WR);
}

void RawSocket::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

}  // namespace daq::test
