// Connections that come and go, on one epoll instance: each one connects, logs in (with
// loginFirst), stays for the hold time, leaves, and starts over one cycle after its last start
// (at once when it is late). Counts completed cycles, the time each took to connect and log
// in, and connections the server closed (a full server closes them at once).
#pragma once

#include <string>
#include <vector>

#include "tools/daqbench/AnswerScanner.h"
#include "tools/daqbench/LoadThread.h"

namespace daqbench {

class StormWorker final : public LoadThread {
  public:
    explicit StormWorker(const WorkerPlan& plan);
    ~StormWorker() override;
    StormWorker(const StormWorker&) = delete;
    StormWorker& operator=(const StormWorker&) = delete;

    // Nothing to open up front: every connection is made inside the run.
    void connectAll() override {}
    // Returns at timeline.stopAt, or when the cycle bound (maxRequests) is reached.
    void run(const Timeline& timeline) override;
    const WorkerResult& result() const override { return result_; }

  private:
    enum class State { Waiting, Connecting, LoggingIn, Holding };

    struct Slot {
        int fd = -1;
        State state = State::Waiting;
        Clock::time_point cycleStart;  // when this cycle began
        Clock::time_point connectedAt;
        Clock::time_point deadline;  // Waiting: next start; Connecting, LoggingIn: time-out;
                                     // Holding: leave
        AnswerScanner scanner;
        std::string answer;
    };

    void start(Slot& slot, Clock::time_point now);
    void onConnected(Slot& slot, Clock::time_point now);
    void onReadable(Slot& slot, Clock::time_point now);
    void setUp(Slot& slot, Clock::time_point now);
    void onDeadline(Slot& slot, Clock::time_point now);
    // Closes the slot's connection; it starts again one cycle after its last start.
    void finish(Slot& slot);
    void watch(Slot& slot, std::uint32_t events, int operation);

    WorkerPlan plan_;
    Timeline timeline_{};
    int epoll_ = -1;
    std::vector<Slot> slots_;
    std::vector<char> receiveBuffer_;
    bool done_ = false;
    WorkerResult result_;
};

}  // namespace daqbench
