// What every kind of load thread is given and gives back: its share of the connections and how
// to load them, the run's time line, and the figures it counted. main.cpp runs one thread per
// LoadThread and merges their results.
#pragma once

#include <netinet/in.h>
#include <openssl/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "tools/client/ClientConnection.h"
#include "tools/daqbench/BenchOptions.h"
#include "tools/daqbench/LatencyHistogram.h"

namespace daqbench {

class RequestMix;

using Clock = std::chrono::steady_clock;

// Shared by every worker of a run.
struct Timeline {
    Clock::time_point start;        // the load begins
    Clock::time_point measureFrom;  // answers from here on are counted
    Clock::time_point stopAt;
};

struct WorkerPlan {
    sockaddr_in address{};
    // TLS on every connection (LoadWorker only); null: plain TCP. The sessions check the
    // server's certificate as tlsSettings say, against its serverName.
    SSL_CTX* tls = nullptr;
    daq::client::TlsSettings tlsSettings;
    int connections = 1;
    std::size_t firstConnection = 0;  // run-wide number of the first one (spreads the mix)
    LoadMode mode = LoadMode::Closed;
    double rate = 0;                // open loop: this worker's requests per second
    std::uint64_t maxRequests = 0;  // this worker's share; 0: no bound
    bool loginFirst = false;
    bool warmFirst = false;
    bool verifyAll = false;
    int maxInFlight = 1;
    std::chrono::milliseconds timeout{5000};
    const RequestMix* mix = nullptr;
    // Endless frame: bytes written after the STX, and the pause between two writes.
    int chunkBytes = 1024;
    std::chrono::milliseconds chunkInterval{10};
    // Storm: how long a connection stays once it is set up, and how often each one starts over.
    std::chrono::milliseconds hold{0};
    std::chrono::milliseconds cycle{100};
    bool resume = false;  // handshakes: offer the session of the connection's last handshake
};

struct ErrorCounts {
    std::uint64_t connect = 0;    // connection refused, not made in time, or its TLS handshake
                                  // failed
    std::uint64_t login = 0;      // --login-first refused
    std::uint64_t closed = 0;     // the server closed a connection
    std::uint64_t timeout = 0;    // no answer in time (the connection is given up)
    std::uint64_t badAnswer = 0;  // not the answer the request gets, or an answer to nothing
    std::uint64_t skipped = 0;    // open loop: a send skipped because too many were unanswered

    std::uint64_t total() const { return connect + login + closed + timeout + badAnswer + skipped; }
    void add(const ErrorCounts& other);
};

struct WorkerResult {
    LatencyHistogram latency;   // answers; storm: connect (and login) of each cycle
    std::uint64_t answers = 0;  // counted ones; storm: cycles completed
    std::uint64_t values = 0;   // LIST entries of the counted answers
    std::uint64_t bytesIn = 0;  // of the counted answers
    std::uint64_t sent = 0;     // requests sent after the warm-up
    ErrorCounts errors;
    int ready = 0;                 // connections ready when the load began
    Clock::time_point finishedAt;  // stopAt, or the last counted answer when the bound ended it
    // Stuck, endless frame and storm: connections the server closed (an expected outcome there,
    // not an error), with the time from connect to the close seen, and the bytes written.
    std::uint64_t serverCloses = 0;
    LatencyHistogram closeAfter;
    std::uint64_t bytesOut = 0;
    std::uint64_t resumed = 0;  // handshakes: counted ones that resumed a session
};

class LoadThread {
  public:
    virtual ~LoadThread() = default;
    // Opens the connections the load starts with; bounded by the answer time-out each.
    virtual void connectAll() = 0;
    // Runs the load until timeline.stopAt, or earlier when the kind of load is done.
    virtual void run(const Timeline& timeline) = 0;
    virtual const WorkerResult& result() const = 0;
};

}  // namespace daqbench
