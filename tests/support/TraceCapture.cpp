#include "tests/support/TraceCapture.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <stdexcept>
#include <string_view>

#include "tools/trace-viewer/TraceMessage.h"
#include "trace/ViewerGeneration.h"

namespace daq::test {

namespace {

// Room for the host's bursts (a disconnect traces one line per booked client).
constexpr int kReceiveBufferBytes = 8 * 1024 * 1024;
// A message is at most 65534 bytes and its terminating zero.
constexpr std::size_t kDatagramBytes = 65536;

}  // namespace

TraceCapture::TraceCapture(std::filesystem::path socketPath) : path_(std::move(socketPath)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = path_.string();
    if (path.size() >= sizeof address.sun_path) {
        throw std::runtime_error("trace socket path too long: " + path);
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    socket_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socket_ < 0 || ::pipe2(stopPipe_, O_CLOEXEC) != 0) {
        throw std::runtime_error("cannot make the trace capture's socket");
    }
    ::setsockopt(socket_, SOL_SOCKET, SO_RCVBUF, &kReceiveBufferBytes, sizeof kReceiveBufferBytes);
    if (::bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        throw std::runtime_error("cannot bind the trace capture at " + path + ": " +
                                 std::strerror(errno));
    }
    // A sender that already found nobody here notices the capture only through the counter.
    if (!announceViewer(path)) {
        throw std::runtime_error("cannot announce the trace capture in " +
                                 viewerGenerationPath(path));
    }
    reader_ = std::thread([this] { receive(); });
}

TraceCapture::~TraceCapture() {
    if (reader_.joinable()) {
        const char stop = 0;
        [[maybe_unused]] const auto written = ::write(stopPipe_[1], &stop, 1);
        reader_.join();
    }
    for (const int fd : {socket_, stopPipe_[0], stopPipe_[1]}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
}

void TraceCapture::receive() {
    std::vector<char> buffer(kDatagramBytes);
    std::array<pollfd, 2> watched{{{socket_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}}};
    while (true) {
        if (::poll(watched.data(), watched.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (watched[1].revents != 0) {
            return;
        }
        const ssize_t size = ::recv(socket_, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (size <= 0) {
            continue;
        }
        const auto message =
            traceviewer::parseTraceMessage({buffer.data(), static_cast<std::size_t>(size)});
        TraceLine line{std::string(message.text), message.located, message.level};
        {
            std::lock_guard lock(mutex_);
            lines_.push_back(std::move(line));
        }
        arrived_.notify_all();
    }
}

std::size_t TraceCapture::waitForCount(const Match& match, std::size_t count,
                                       std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    std::size_t found = 0;
    std::size_t looked = 0;  // lines already looked at: each wake-up looks at new ones only
    arrived_.wait_for(lock, timeout, [&] {
        for (; looked < lines_.size(); ++looked) {
            found += match(lines_[looked]) ? 1 : 0;
        }
        return found >= count;
    });
    return found;
}

std::vector<TraceLine> TraceCapture::matching(const Match& match) const {
    std::lock_guard lock(mutex_);
    std::vector<TraceLine> found;
    for (const TraceLine& line : lines_) {
        if (match(line)) {
            found.push_back(line);
        }
    }
    return found;
}

TraceCapture::Match traceContains(int level, std::string part) {
    return [level, part = std::move(part)](const TraceLine& line) {
        return line.located && line.level == level && line.text.find(part) != std::string::npos;
    };
}

}  // namespace daq::test
