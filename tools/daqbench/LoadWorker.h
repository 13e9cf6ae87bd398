// One load thread: its share of the connections, non-blocking, on one epoll instance. Closed
// loop (next request when the answer is in), open loop (requests at fixed times, pipelined on
// a connection when answers are late) or idle (connections held without requests).
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/daqbench/AnswerScanner.h"
#include "tools/daqbench/BenchOptions.h"
#include "tools/daqbench/LatencyHistogram.h"
#include "tools/daqbench/RequestMix.h"

namespace daqbench {

using Clock = std::chrono::steady_clock;

// Shared by every worker of a run.
struct Timeline {
    Clock::time_point start;        // the load begins
    Clock::time_point measureFrom;  // answers from here on are counted
    Clock::time_point stopAt;
};

struct WorkerPlan {
    sockaddr_in address{};
    int connections = 1;
    std::size_t firstConnection = 0;  // run-wide number of the first one (spreads the mix)
    LoadMode mode = LoadMode::Closed;
    double rate = 0;                // open loop: this worker's requests per second
    std::uint64_t maxRequests = 0;  // this worker's share; 0: no bound
    bool loginFirst = false;
    bool verifyAll = false;
    int maxInFlight = 1;
    std::chrono::milliseconds timeout{5000};
    const RequestMix* mix = nullptr;
};

struct ErrorCounts {
    std::uint64_t connect = 0;    // connection refused or not made in time
    std::uint64_t login = 0;      // --login-first refused
    std::uint64_t closed = 0;     // the server closed a connection
    std::uint64_t timeout = 0;    // no answer in time (the connection is given up)
    std::uint64_t badAnswer = 0;  // not the answer the request gets, or an answer to nothing
    std::uint64_t skipped = 0;    // open loop: a send skipped because too many were unanswered

    std::uint64_t total() const { return connect + login + closed + timeout + badAnswer + skipped; }
    void add(const ErrorCounts& other);
};

struct WorkerResult {
    LatencyHistogram latency;
    std::uint64_t answers = 0;  // counted ones
    std::uint64_t values = 0;   // LIST entries of the counted answers
    std::uint64_t bytesIn = 0;  // of the counted answers
    std::uint64_t sent = 0;     // requests sent after the warm-up
    ErrorCounts errors;
    int ready = 0;                 // connections ready when the load began
    Clock::time_point finishedAt;  // stopAt, or the last counted answer when the bound ended it
};

class LoadWorker {
  public:
    explicit LoadWorker(const WorkerPlan& plan);
    ~LoadWorker();
    LoadWorker(const LoadWorker&) = delete;
    LoadWorker& operator=(const LoadWorker&) = delete;

    // Opens the connections (and logs each in with loginFirst); returns when every one is ready
    // or has failed, bounded by the answer time-out per connection.
    void connectAll();
    // Runs the load; returns at timeline.stopAt, after the request bound, or when no connection
    // is left.
    void run(const Timeline& timeline);

    const WorkerResult& result() const { return result_; }

  private:
    enum class State { Waiting, Connecting, LoggingIn, Ready, Dead };
    static constexpr std::uint8_t kLoginTemplate = 0xFF;

    struct Pending {
        Clock::time_point sentAt;  // open loop: when it was due
        std::uint8_t templateIndex;
    };

    struct Connection {
        int fd = -1;
        State state = State::Waiting;
        AnswerScanner scanner;
        MixCursor cursor;
        std::vector<Pending> pending;  // ring of maxInFlight
        std::size_t pendingHead = 0;
        std::size_t pendingCount = 0;
        std::string unsent;           // what send() did not take yet
        std::string text;             // the answer being checked
        std::size_t answerBytes = 0;  // of the answer coming in
        std::uint32_t checkedTemplates = 0;
        bool watchingWrites = false;
    };

    void startConnect(Connection& connection);
    void startNextConnects();
    void onConnected(Connection& connection);
    void handleEvent(std::uint32_t index, std::uint32_t events);
    void readAnswers(Connection& connection);
    void onAnswerEnd(Connection& connection, Clock::time_point now);
    bool checksFront(const Connection& connection) const;
    void send(Connection& connection, std::string_view frame, std::uint8_t templateIndex,
              Clock::time_point sentAt);
    void flush(Connection& connection);
    void watchWrites(Connection& connection, bool on);
    void giveUp(Connection& connection, std::uint64_t& errorCount);
    void sendNextClosed(Connection& connection, Clock::time_point now);
    void sendDueOpen(Clock::time_point now);
    void armTimer(Clock::time_point at);
    void checkTimeouts(Clock::time_point now);
    // Waits for events up to `until` and handles them.
    void poll(Clock::time_point until);
    bool measuring(Clock::time_point now) const;

    WorkerPlan plan_;
    Timeline timeline_{};
    bool loadRunning_ = false;
    bool done_ = false;
    int epoll_ = -1;
    int timer_ = -1;
    std::vector<Connection> connections_;
    std::size_t nextToConnect_ = 0;
    int connecting_ = 0;
    int live_ = 0;                // not Dead
    std::uint64_t nextSlot_ = 0;  // open loop
    std::vector<char> receiveBuffer_;
    Clock::time_point nextTimeoutCheck_{};
    WorkerResult result_;
};

}  // namespace daqbench
