#include "tests/support/TraceCapture.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "tools/trace-viewer/TraceMessage.h"
#include "trace/TraceSender.h"
#include "trace/TraceTransport.h"
#include "trace/ViewerGeneration.h"

namespace daq::test {

namespace {

// Room for the host's bursts (a disconnect traces one line per booked client).
constexpr int kReceiveBufferBytes = 8 * 1024 * 1024;

sockaddr_un addressOf(const std::filesystem::path& socketPath) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = socketPath.string();
    if (path.size() >= sizeof address.sun_path) {
        throw std::runtime_error("trace socket path too long: " + path);
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return address;
}

}  // namespace

void pointTraceChannelAt(const std::string& socketPath) {
    ::setenv("KELVANE_TRACE_SOCKET", socketPath.c_str(), 1);
    traceReloadSocketPath();
}

std::string locationSuffix(int level, int line, const std::string& operation,
                           const std::string& file) {
    char sender[16];
    std::snprintf(sender, sizeof sender, "%x", static_cast<unsigned>(::getpid()));
    return "|14|Kelvane " + std::string(sender) + "|0|" + std::to_string(level) + "|-1|" +
           std::to_string(line) + "|" + operation + "|" + file;
}

TraceCapture::TraceCapture(Reading reading)
    : directory_(std::make_unique<TempDir>()), path_(directory_->path() / "trace.sock") {
    pointTraceChannelAt(path_.string());
    bind();
    if (reading == Reading::Now) {
        startReading();
    }
}

TraceCapture::TraceCapture(std::filesystem::path socketPath) : path_(std::move(socketPath)) {
    bind();
    startReading();
}

void TraceCapture::bind() {
    const sockaddr_un address = addressOf(path_);
    socket_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ::setsockopt(socket_, SOL_SOCKET, SO_RCVBUF, &kReceiveBufferBytes, sizeof kReceiveBufferBytes);
    if (::bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        throw std::runtime_error("cannot bind the trace capture at " + path_.string() + ": " +
                                 std::strerror(errno));
    }
    // A sender that already found nobody here notices the capture only through the counter.
    announceViewer(path_.string());
}

void TraceCapture::startReading() {
    reader_ = std::thread([this] { receive(); });
}

TraceCapture::~TraceCapture() {
    if (reader_.joinable()) {
        stopping_ = true;
        ::shutdown(socket_, SHUT_RD);  // the reader's recv returns 0 from now on
        reader_.join();
    }
    ::close(socket_);
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
}

void TraceCapture::receive() {
    // One byte more than the largest message, so that an oversized one would show.
    std::vector<char> buffer(kTraceMessageLimit + 2);
    while (!stopping_) {
        const ssize_t size = ::recv(socket_, buffer.data(), buffer.size(), 0);
        if (size < 0) {
            continue;
        }
        const std::string datagram(buffer.data(), static_cast<std::size_t>(size));
        const auto message = traceviewer::parseTraceMessage(datagram);
        std::lock_guard lock(mutex_);
        if (size == 0) {
            ++markers_;
        } else {
            lines_.push_back({datagram, std::string(message.text), message.located, message.level,
                              message.line, std::string(message.operation),
                              std::string(message.file)});
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
    std::copy_if(lines_.begin(), lines_.end(), std::back_inserter(found), match);
    return found;
}

std::vector<TraceLine> TraceCapture::take() {
    flushTraceQueue();
    // An empty datagram, which the channel never sends, arrives after everything it has sent.
    const sockaddr_un address = addressOf(path_);
    ::sendto(socket_, "", 0, 0, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    std::unique_lock lock(mutex_);
    const std::size_t marker = ++markersSent_;
    arrived_.wait_for(lock, std::chrono::seconds(10), [&] { return markers_ >= marker; });
    std::vector<TraceLine> taken(lines_.begin() + static_cast<std::ptrdiff_t>(taken_),
                                 lines_.end());
    taken_ = lines_.size();
    return taken;
}

bool TraceCapture::contains(const std::vector<TraceLine>& lines, int level, std::string_view text) {
    return std::ranges::any_of(lines, traceContains(level, std::string(text)));
}

TraceCapture::Match traceContains(int level, std::string part) {
    return [level, part = std::move(part)](const TraceLine& line) {
        return line.located && line.level == level && line.text.find(part) != std::string::npos;
    };
}

}  // namespace daq::test
