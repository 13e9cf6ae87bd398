// A stand-in trace viewer for tests: binds a trace socket, announces itself in the generation
// file beside it, and keeps every message received until it is destroyed. A thread reads, so
// that senders find room (with Reading::Later only from startReading() on, as a stalled viewer).
// Bound at HostProcess::traceSocketPath() before the host starts, it gets all the host's messages
// but those that find its queue full (net.unix.max_dgram_qlen, 10 by default): a line inside a
// burst (a disconnect traces one line per connection) may be lost; assert on lines that come alone.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tests/support/TempDir.h"
#include "trace/Trace.h"  // the levels that TraceLine and traceContains take

namespace daq::test {

struct TraceLine {
    std::string datagram;  // as received, its terminating zero included
    std::string text;
    bool located = false;  // the message carried a location suffix; the fields below are set
    int level = 0;
    int line = 0;
    std::string operation;
    std::string file;
};

// Points this process's trace channel at `socketPath` (as KELVANE_TRACE_SOCKET does).
void pointTraceChannelAt(const std::string& socketPath);

// The location suffix that this process's channel appends.
std::string locationSuffix(int level, int line, const std::string& operation,
                           const std::string& file);

class TraceCapture {
  public:
    using Match = std::function<bool(const TraceLine&)>;
    enum class Reading { Now, Later };

    // Binds in a private directory of its own, and points this process's trace channel there
    // while it lives.
    explicit TraceCapture(Reading reading = Reading::Now);
    // Binds at `socketPath`; throws when it cannot bind.
    explicit TraceCapture(std::filesystem::path socketPath);
    ~TraceCapture();
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    void startReading();

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

    // The messages received since the last call, after this process's trace channel has sent
    // everything traced before the call.
    std::vector<TraceLine> take();
    // Whether `lines` hold a located message of this level whose text contains `text`.
    static bool contains(const std::vector<TraceLine>& lines, int level, std::string_view text);

  private:
    void bind();
    void receive();

    std::unique_ptr<TempDir> directory_;  // set when the capture made its own
    std::filesystem::path path_;
    int socket_ = -1;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<TraceLine> lines_;
    std::size_t taken_ = 0;  // lines that take() has given
    // Empty datagrams that take() sent to itself, and those received, to know it has all before.
    std::size_t markersSent_ = 0;
    std::size_t markers_ = 0;
    std::thread reader_;
};

// Matches a located message of the given level whose text contains `part`.
TraceCapture::Match traceContains(int level, std::string part);

}  // namespace daq::test
