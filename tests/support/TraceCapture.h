// Receives the trace messages of a host run by HostProcess, for tests that assert what the
// server traced. Bind it at HostProcess::traceSocketPath() before the host starts: the host's
// trace channel then finds it at its first message. A thread keeps reading so that the host's
// non-blocking sends find room; every message is kept until the capture is destroyed.
// The kernel queues few datagrams per socket (net.unix.max_dgram_qlen, 10 by default) and the
// host drops a message that finds the queue full, so a line inside a burst of many (a
// disconnect traces one line per connection) may be lost: assert on lines that come alone.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace daq::test {

struct TraceLine {
    std::string text;
    bool located = false;  // the message carried a location suffix; its level is set
    int level = 0;
};

class TraceCapture {
  public:
    using Match = std::function<bool(const TraceLine&)>;

    // Binds a datagram socket at `socketPath` and announces it in the generation file beside it,
    // as the viewer does; throws when it cannot.
    explicit TraceCapture(std::filesystem::path socketPath);
    ~TraceCapture();
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    // Waits until at least `count` received messages match, at most `timeout`; gives how many
    // matched then.
    std::size_t waitForCount(const Match& match, std::size_t count,
                             std::chrono::milliseconds timeout);
    // Whether a received message matches, waiting at most `timeout` for one.
    bool waitFor(const Match& match, std::chrono::milliseconds timeout) {
        return waitForCount(match, 1, timeout) > 0;
    }
    // Messages received so far that match.
    std::vector<TraceLine> matching(const Match& match) const;

  private:
    void receive();

    std::filesystem::path path_;
    int socket_ = -1;
    int stopPipe_[2] = {-1, -1};
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<TraceLine> lines_;
    std::thread reader_;
};

// Matches a located message of the given level whose text contains `part`.
TraceCapture::Match traceContains(int level, std::string part);

}  // namespace daq::test
