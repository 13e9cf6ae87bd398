// The server stopwatch: restarted on the window thread when the listener starts, read by the
// refresh thread for its pacing.
#pragma once

#include <mutex>

#include "kelvane/Stopwatch.h"

namespace daq {

class ServerStopwatch {
  public:
    ServerStopwatch() { watch_.Start(); }

    void restart() {
        std::lock_guard lock(mutex_);
        watch_.Start();
    }

    double elapsedMs() {
        std::lock_guard lock(mutex_);
        return watch_.Elapsed();
    }

  private:
    std::mutex mutex_;
    kelvane::Stopwatch watch_;
};

}  // namespace daq
