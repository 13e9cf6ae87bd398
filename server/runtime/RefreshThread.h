// The refresh thread (BMThread1): while a DAQ run is on, it copies the current values of the
// IO map into the mapped IO records, pass after pass.
//
// Each pass is started by the run event. After a pass the thread waits on the tick event for
// the refresh interval less the time since the pass began (at least 1 ms), then, while the run
// is on, signals the run event to go round again; otherwise it sleeps until the next start.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "common/AutoResetEvent.h"
#include "kelvane/Stopwatch.h"
#include "server/runtime/IoMap.h"

namespace daq {

class RefreshThread {
  public:
    // intervalMs: from the start of one pass to the start of the next, at least 1.
    RefreshThread(IoMap& map, const std::atomic<bool>& daqRunning, int32_t intervalMs);
    RefreshThread(const RefreshThread&) = delete;
    RefreshThread& operator=(const RefreshThread&) = delete;
    // Ends the thread if the owner has not (request, wake, join).
    ~RefreshThread();

    void start();
    // Signals the run event.
    void wake();
    // Asks the thread to end; returns at once. The thread leaves at its next wake.
    void requestEnd();
    // Waits for the thread to leave; call after requestEnd() and wake().
    void join();

    // Passes run so far (for the window's status and for tests).
    uint64_t passes() const { return passes_.load(std::memory_order_relaxed); }
    int32_t intervalMs() const { return intervalMs_; }

  private:
    void run();
    // The pause after a pass: the interval less the time since the pass began, at least 1 ms.
    int32_t pauseMs();

    IoMap& map_;
    // Restarted as each pass begins; the refresh thread's own.
    kelvane::Stopwatch passWatch_;
    const std::atomic<bool>& daqRunning_;
    const int32_t intervalMs_;
    AutoResetEvent runEvent_;
    AutoResetEvent tickEvent_;
    std::atomic<bool> endRequested_{false};
    std::atomic<uint64_t> passes_{0};
    std::thread thread_;
};

}  // namespace daq
