#include "trace/TraceSender.h"

#include "trace/TraceTransport.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace daq {

namespace {

constexpr std::size_t kMinQueueBytes = 64u << 10;
constexpr std::size_t kMaxQueueBytes = 1u << 30;
// After the queue empties the sender looks again this much later before it sleeps until woken:
// while messages keep coming they are sent in batches and no trace call has to wake it.
constexpr auto kLinger = std::chrono::milliseconds(1);
constexpr auto kRetryPause = std::chrono::milliseconds(1);

std::size_t queueBytesSetting() {
    const char* text = std::getenv("KELVANE_TRACE_QUEUE_BYTES");
    std::size_t value = 0;
    if (text == nullptr ||
        std::from_chars(text, text + std::strlen(text), value).ec != std::errc() ||
        value < kMinQueueBytes || value > kMaxQueueBytes) {
        return kDefaultTraceQueueBytes;
    }
    return value;
}

class TraceQueue {
  public:
    TraceQueue() { prepareTraceTransport(); }
    ~TraceQueue() { stop(); }
    TraceQueue(const TraceQueue&) = delete;
    TraceQueue& operator=(const TraceQueue&) = delete;

    // Ends the sender thread; what is still queued is not sent. Later messages stay queued.
    void stop() {
        {
            const std::lock_guard lock(mutex_);
            if (stopping_) {
                return;
            }
            stopping_ = true;
        }
        wake_.notify_one();
        flushed_.notify_all();
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    void post(const char* data, std::size_t size) {
        bool wake = false;
        {
            const std::lock_guard lock(mutex_);
            if (!thread_.joinable() && !stopping_) {
                thread_ = std::thread([this] { run(); });
            }
            ++posted_;
            if (bytes_.size() + size > capacity_) {
                ++dropped_;
                ++handled_;  // nothing more will happen to it
                return;
            }
            bytes_.insert(bytes_.end(), data, data + size);
            sizes_.push_back(size);
            wake = sleeping_;
        }
        if (wake) {
            wake_.notify_one();
        }
    }

    void reloadSettings() {
        const std::lock_guard lock(mutex_);
        capacity_ = queueBytesSetting();
    }

    void flush() {
        std::unique_lock lock(mutex_);
        const std::uint64_t target = posted_;
        flushed_.wait(lock, [&] { return handled_ >= target || stopping_; });
    }

  private:
    void run() {
        std::vector<char> bytes;
        std::vector<std::size_t> sizes;
        std::unique_lock lock(mutex_);
        while (!stopping_) {
            if (sizes_.empty() && dropped_ == 0) {
                flushed_.notify_all();
                if (!wake_.wait_for(lock, kLinger, [&] { return !sizes_.empty() || stopping_; })) {
                    sleeping_ = true;
                    wake_.wait(lock, [&] { return !sizes_.empty() || dropped_ > 0 || stopping_; });
                    sleeping_ = false;
                }
                continue;
            }
            bytes.swap(bytes_);
            sizes.swap(sizes_);
            // Messages dropped at a full queue came after every message queued so far.
            const std::uint64_t droppedAfter = dropped_;
            dropped_ = 0;
            lock.unlock();
            sendAll(bytes, sizes, droppedAfter);
            lock.lock();
            handled_ += sizes.size();
            flushed_.notify_all();
            bytes.clear();
            sizes.clear();
        }
    }

    // Sends the batch between the lines that count what was lost before it and while it waited
    // (each when something was).
    void sendAll(const std::vector<char>& bytes, const std::vector<std::size_t>& sizes,
                 std::uint64_t droppedAfter) {
        reportLost();
        std::vector<TraceDatagram> batch;
        batch.reserve(sizes.size());
        std::size_t offset = 0;
        for (const std::size_t size : sizes) {
            batch.push_back({bytes.data() + offset, size});
            offset += size;
        }
        lost_ += batch.size() - sendPatiently(batch);
        lost_ += droppedAfter;
        reportLost();
    }

    void reportLost() {
        if (lost_ == 0) {
            return;
        }
        const std::string line = std::to_string(lost_) + " messages dropped";
        if (sendPatiently({{line.c_str(), line.size() + 1}}) == 1) {
            lost_ = 0;
        }
    }

    // Sends what the viewer takes, waiting for room at most kTraceViewerStallMs without
    // progress; returns how many messages left (or went to nobody, when no viewer listens).
    static std::size_t sendPatiently(const std::vector<TraceDatagram>& batch) {
        std::size_t done = 0;
        auto stalledSince = std::chrono::steady_clock::now();
        while (done < batch.size()) {
            const std::size_t count = std::min(batch.size() - done, kTraceBatchMessages);
            const std::size_t sent = sendBatchToViewer(batch.data() + done, count);
            if (sent > 0) {
                done += sent;
                stalledSince = std::chrono::steady_clock::now();
                continue;
            }
            if (std::chrono::steady_clock::now() - stalledSince >=
                std::chrono::milliseconds(kTraceViewerStallMs)) {
                break;
            }
            std::this_thread::sleep_for(kRetryPause);
        }
        return done;
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable flushed_;
    std::vector<char> bytes_;         // queued messages, back to back
    std::vector<std::size_t> sizes_;  // their sizes
    std::size_t capacity_ = queueBytesSetting();
    std::uint64_t posted_ = 0;
    std::uint64_t handled_ = 0;  // sent, sent to nobody or dropped
    std::uint64_t dropped_ = 0;  // at a full queue, since the last batch
    bool sleeping_ = false;
    bool stopping_ = false;
    std::uint64_t lost_ = 0;  // the sender's: not yet reported
    std::thread thread_;
};

// Made after the transport, so destroyed before it: at exit or at the library's unload the
// sender thread ends while the transport it sends through still stands.
TraceQueue& queue() {
    static TraceQueue instance;
    return instance;
}

}  // namespace

void postToViewer(const char* data, std::size_t size) {
    queue().post(data, size);
}

void flushTraceQueue() {
    queue().flush();
}

void reloadTraceQueueSettings() {
    queue().reloadSettings();
}

}  // namespace daq
