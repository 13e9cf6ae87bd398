// The window side of the server core for tests and fuzz targets: counts the timer starts the
// core asks for instead of running timers.
#pragma once

#include <atomic>

#include "server/core/WindowSink.h"

namespace daq::test {

class TimerLog final : public WindowSink {
  public:
    void startTimer(WindowTimer timer) override { ++starts_[static_cast<int>(timer)]; }
    int starts(WindowTimer timer) const { return starts_[static_cast<int>(timer)]; }

  private:
    std::atomic<int> starts_[4] = {};
};

}  // namespace daq::test
