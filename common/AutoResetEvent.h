// An event that wakes one waiter and then resets itself. A signal with nobody waiting is kept
// until the next wait consumes it; several signals before a wait count as one.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace daq {

class AutoResetEvent {
  public:
    void signal() {
        {
            std::lock_guard lock(mutex_);
            signalled_ = true;
        }
        changed_.notify_one();
    }

    void reset() {
        std::lock_guard lock(mutex_);
        signalled_ = false;
    }

    // Waits without a time limit.
    void wait() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return signalled_; });
        signalled_ = false;
    }

    // True when signalled within the time, false when the time ran out.
    bool waitFor(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, timeout, [this] { return signalled_; })) {
            return false;
        }
        signalled_ = false;
        return true;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool signalled_ = false;
};

}  // namespace daq
