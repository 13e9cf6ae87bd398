// One load thread: its share of the connections, non-blocking, on one epoll instance. Closed
// loop (next request when the answer is in), open loop (requests at fixed times, pipelined on
// a connection when answers are late), idle (connections held without requests) or TLS
// handshakes (each connection leaves once its handshake is done, and connects again).
#pragma once

#include <netinet/in.h>
#include <openssl/ssl.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tools/daqbench/AnswerScanner.h"
#include "tools/daqbench/BenchOptions.h"
#include "tools/daqbench/LoadThread.h"
#include "tools/daqbench/RequestMix.h"

namespace daqbench {

class LoadWorker final : public LoadThread {
  public:
    explicit LoadWorker(const WorkerPlan& plan);
    ~LoadWorker() override;
    LoadWorker(const LoadWorker&) = delete;
    LoadWorker& operator=(const LoadWorker&) = delete;

    // Opens the connections (and logs each in with loginFirst); returns when every one is ready
    // or has failed, bounded by the answer time-out per connection.
    // Handshakes: nothing, every connection is made inside the run.
    void connectAll() override;
    // Runs the load; returns at timeline.stopAt, after the request bound, or when no connection
    // is left.
    void run(const Timeline& timeline) override;

    const WorkerResult& result() const override { return result_; }

  private:
    // Ticket: handshakes with resume, the handshake done, waiting for the TLS 1.3 session
    // ticket that follows it.
    enum class State { Waiting, Connecting, Handshaking, Ticket, LoggingIn, Warming, Ready, Dead };
    static constexpr std::uint8_t kLoginTemplate = 0xFF;
    static constexpr std::uint8_t kWarmTemplate = 0xFE;

    struct Pending {
        Clock::time_point sentAt;  // open loop: when it was due
        std::uint8_t templateIndex;
    };

    struct TlsFree {
        void operator()(SSL* connection) const { SSL_free(connection); }
        void operator()(SSL_SESSION* session) const { SSL_SESSION_free(session); }
    };

    struct Connection {
        int fd = -1;
        std::unique_ptr<SSL, TlsFree> tls;
        std::unique_ptr<SSL_SESSION, TlsFree> session;  // handshakes: the one to resume
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
    // One step of the TLS handshake; called again on each event until it is done or failed.
    void continueHandshake(Connection& connection);
    // The connection is set up (and its handshake done): logs in or starts its load.
    void beginTraffic(Connection& connection);
    void failConnect(Connection& connection);
    // Handshakes: counts the one just done, then with resume keeps its session (reading its
    // ticket first when it is still to come) and connects again.
    void onHandshake(Connection& connection);
    void keepSession(Connection& connection);
    void reconnect(Connection& connection);
    // Ready, or with warmFirst, Warming until the answer to one request of the mix is in.
    void warmUp(Connection& connection);
    void handleEvent(std::uint32_t index, std::uint32_t events);
    void readAnswers(Connection& connection);
    void onAnswerEnd(Connection& connection, Clock::time_point now);
    bool checksFront(const Connection& connection) const;
    void send(Connection& connection, std::string_view frame, std::uint8_t templateIndex,
              Clock::time_point sentAt);
    void flush(Connection& connection);
    // recv()/send(), or SSL_read()/SSL_write() with TLS: bytes, 0 when the peer closed (read),
    // -1 with errno (EAGAIN: try when epoll says so).
    static ssize_t receive(Connection& connection, char* data, std::size_t size);
    static ssize_t transmit(Connection& connection, const char* data, std::size_t size);
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
