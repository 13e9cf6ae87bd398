// What a daqbench run is asked to do: where to connect, how many connections on how many
// threads, which requests, for how long, and how to report. Filled by the option parser.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace CLI {
class App;
}

namespace daqbench {

enum class RequestKind { Alive, DaqData, DaqList, Login };

// One kind of request of the mix and how often it comes, relative to the others.
struct MixEntry {
    RequestKind kind = RequestKind::Alive;
    int weight = 1;
};

enum class LoadMode {
    Closed,      // every connection sends its next request when the answer to the last one is in
    Open,        // requests leave at a fixed rate whether answers came or not
    Idle,        // connections are opened and held without a request
    Stuck,       // requests sent back to back as long as the socket takes them, answers never read
    Endless,     // one frame that never ends: STX, then a chunk at every interval, never ETX
    Storm,       // each connection connects, logs in (optionally), stays a moment, leaves, again
    Handshakes,  // TLS: each connection connects, completes its handshake, leaves, again
};

inline constexpr std::uint16_t kDefaultTlsPort = 5051;
inline constexpr int kMaxConnections = 100000;
inline constexpr int kMaxThreads = 64;
inline constexpr int kMaxIndexes = 100000;
inline constexpr int kMaxPageSize = 100000;
inline constexpr int kMaxWeight = 1000;
inline constexpr std::size_t kMaxMixEntries = 16;
inline constexpr int kMaxInFlightBound = 4096;
inline constexpr int kMaxChunkBytes = 1 << 20;
inline constexpr int kMaxIntervalMs = 3600 * 1000;

struct BenchOptions {
    std::string host = "127.0.0.1";
    std::uint16_t port = 5050;  // 5051 with tls
    // TLS on every connection, the server's certificate verified against caFile (empty: the
    // system's CAs) and the host unless insecure.
    bool tls = false;
    std::string caFile;
    bool insecure = false;
    int connections = 1;
    int threads = 1;  // never more than connections
    double warmupSeconds = 1.0;
    double durationSeconds = 5.0;
    std::uint64_t maxRequests = 0;  // 0: the duration alone ends the run
    std::vector<MixEntry> mix;      // empty on the command line: ALIVE alone
    int indexes = 10;               // DAQ_DATA: indexes per request
    int firstIndex = 0;             // DAQ_DATA: the first of the consecutive indexes
    int pageSize = 100;             // DAQLIST: entries per page
    std::string user;
    std::string password;
    bool loginFirst = false;  // each connection logs in before its load starts
    bool warmFirst = false;   // then sends one request of the mix and reads its answer
    double rate = 0.0;        // requests per second over all connections; > 0: open loop
    bool idle = false;
    bool stuck = false;
    bool endlessFrame = false;
    int chunkBytes = 1024;     // endless frame: bytes per write
    int chunkIntervalMs = 10;  // endless frame: pause between writes
    bool storm = false;
    int holdMs = 0;     // storm: how long a connection stays once set up
    int cycleMs = 100;  // storm: how often each connection starts over
    bool handshakes = false;
    bool resume = false;   // handshakes: offer the session of the connection's last handshake
    int maxInFlight = 64;  // open loop: requests a connection may have unanswered
    int timeoutMs = 5000;  // longest wait for an answer
    std::optional<pid_t> serverPid;
    // Seconds of the server's own CPU use (its DAQ run, with no connection of ours) measured
    // before the connections open, to tell it from what the connections cost.
    double baselineSeconds = 0;
    bool json = false;
    bool verifyAll = false;   // parse every answer, not only the first of each kind per connection
    std::string label;        // copied into the report, for scripts that compare runs
    std::string captureFile;  // write the answer of one request there and exit

    LoadMode mode() const {
        if (idle) {
            return LoadMode::Idle;
        }
        if (stuck) {
            return LoadMode::Stuck;
        }
        if (endlessFrame) {
            return LoadMode::Endless;
        }
        if (storm) {
            return LoadMode::Storm;
        }
        if (handshakes) {
            return LoadMode::Handshakes;
        }
        return rate > 0 ? LoadMode::Open : LoadMode::Closed;
    }
};

// "alive", "daq_data", "daqlist" or "login" (any case, the protocol's ids too), optionally
// followed by ":WEIGHT".
std::optional<MixEntry> parseMixEntry(std::string_view text);
std::string_view kindName(RequestKind kind);

// Declares every option on `app`; after a successful parse `options` is complete and checked
// (the checks the parser cannot make alone throw CLI::ValidationError from app.parse).
void declareOptions(CLI::App& app, BenchOptions& options);

}  // namespace daqbench
