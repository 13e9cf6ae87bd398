#include "server/runtime/RefreshThread.h"

#include <algorithm>
#include <chrono>

namespace daq {

RefreshThread::RefreshThread(IoMap& map, const std::atomic<bool>& daqRunning, int32_t intervalMs)
    : map_(map), daqRunning_(daqRunning), intervalMs_(std::max<int32_t>(1, intervalMs)) {
    tickEvent_.reset();
}

RefreshThread::~RefreshThread() {
    requestEnd();
    wake();
    join();
}

void RefreshThread::start() {
    if (!thread_.joinable()) {
        thread_ = std::thread([this] { run(); });
    }
}

void RefreshThread::wake() {
    runEvent_.signal();
}

void RefreshThread::requestEnd() {
    endRequested_.store(true);
    // Cuts a pacing wait short; the tick event is otherwise never signalled.
    tickEvent_.signal();
}

void RefreshThread::join() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

void RefreshThread::run() {
    for (;;) {
        runEvent_.wait();
        if (endRequested_.load()) {
            return;
        }
        passWatch_.Start();
        map_.refresh();
        passes_.fetch_add(1, std::memory_order_relaxed);
        tickEvent_.waitFor(std::chrono::milliseconds(pauseMs()));
        if (daqRunning_.load()) {
            runEvent_.signal();
        }
    }
}

int32_t RefreshThread::pauseMs() {
    const double remaining = static_cast<double>(intervalMs_) - passWatch_.Elapsed();
    // Truncated towards zero like an integer conversion; never below 1 ms.
    return remaining >= 2.0 ? static_cast<int32_t>(remaining) : 1;
}

}  // namespace daq
