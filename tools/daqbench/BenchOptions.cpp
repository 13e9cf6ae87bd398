#include "tools/daqbench/BenchOptions.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <memory>

namespace daqbench {

namespace {

struct KindName {
    std::string_view name;  // as the options spell it
    std::string_view id;    // as the protocol spells it
    RequestKind kind;
};

constexpr std::array<KindName, 4> kKinds{{
    {"alive", "ALIVE", RequestKind::Alive},
    {"daq_data", "DAQ_DATA", RequestKind::DaqData},
    {"daqlist", "DAQLIST", RequestKind::DaqList},
    {"login", "LOGIN", RequestKind::Login},
}};

bool sameText(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

void completeOptions(BenchOptions& options, const std::vector<std::string>& requests,
                     bool portGiven) {
    if (options.tls && !portGiven) {
        options.port = kDefaultTlsPort;
    }
    if (requests.size() > kMaxMixEntries) {
        throw CLI::ValidationError("--request",
                                   "at most " + std::to_string(kMaxMixEntries) + " entries");
    }
    options.mix.clear();
    for (const std::string& text : requests) {
        options.mix.push_back(*parseMixEntry(text));  // checked by the option's validator
    }
    if (options.mix.empty()) {
        options.mix.push_back({RequestKind::Alive, 1});
    }
    const bool logsIn =
        options.loginFirst ||
        std::any_of(options.mix.begin(), options.mix.end(),
                    [](const MixEntry& entry) { return entry.kind == RequestKind::Login; });
    if (logsIn && options.user.empty()) {
        throw CLI::ValidationError("--user", "a login (--login-first or -r login) needs a user");
    }
    if (options.durationSeconds <= 0) {
        throw CLI::ValidationError("--duration", "must be more than 0 seconds");
    }
    options.threads = std::min(options.threads, options.connections);
}

}  // namespace

std::string_view kindName(RequestKind kind) {
    for (const KindName& entry : kKinds) {
        if (entry.kind == kind) {
            return entry.id;
        }
    }
    return "?";
}

std::optional<MixEntry> parseMixEntry(std::string_view text) {
    const std::size_t colon = text.find(':');
    const std::string_view name = text.substr(0, colon);
    MixEntry entry;
    const auto known = std::find_if(kKinds.begin(), kKinds.end(), [&](const KindName& k) {
        return sameText(name, k.name) || sameText(name, k.id);
    });
    if (known == kKinds.end()) {
        return std::nullopt;
    }
    entry.kind = known->kind;
    if (colon != std::string_view::npos) {
        const std::string_view weight = text.substr(colon + 1);
        const auto [end, error] =
            std::from_chars(weight.data(), weight.data() + weight.size(), entry.weight);
        if (error != std::errc() || end != weight.data() + weight.size() || entry.weight < 1 ||
            entry.weight > kMaxWeight) {
            return std::nullopt;
        }
    }
    return entry;
}

namespace {

// The server and the load's size and length.
void declareLoadOptions(CLI::App& app, BenchOptions& options) {
    app.add_option("-h,--host", options.host, "Server address")->capture_default_str();
    app.add_option("-p,--port", options.port, "Server port (with --tls: 5051)")
        ->capture_default_str();
    auto* tls = app.add_flag("--tls", options.tls,
                             "TLS on every connection (closed and open loop, idle), the server's "
                             "certificate and name verified; the handshake is part of connecting");
    app.add_option("--cafile", options.caFile,
                   "--tls: CA certificates (PEM) to verify the server with (default: the system's)")
        ->check(CLI::ExistingFile)
        ->needs(tls);
    app.add_flag("--insecure", options.insecure, "--tls: accept any server certificate")
        ->needs(tls);

    app.add_option("-c,--connections", options.connections, "Connections")
        ->capture_default_str()
        ->check(CLI::Range(1, kMaxConnections));
    app.add_option("-t,--threads", options.threads,
                   "Load threads, each serving its share of the connections with epoll")
        ->capture_default_str()
        ->check(CLI::Range(1, kMaxThreads));
    app.add_option("-w,--warmup", options.warmupSeconds, "Seconds of load before measuring")
        ->capture_default_str()
        ->check(CLI::Range(0.0, 3600.0));
    app.add_option("-d,--duration", options.durationSeconds, "Seconds measured")
        ->capture_default_str()
        ->check(CLI::Range(0.0, 86400.0));
    app.add_option(
           "-n,--requests", options.maxRequests,
           "End the measurement after this many answers (storm: cycles; handshakes: handshakes) "
           "as well (0: no bound)")
        ->capture_default_str();
}

// What each connection sends; returns the -r texts, read once parsing is done.
std::shared_ptr<std::vector<std::string>> declareMixOptions(CLI::App& app, BenchOptions& options) {
    auto requests = std::make_shared<std::vector<std::string>>();
    app.add_option("-r,--request", *requests,
                   "KIND[:WEIGHT], repeatable; KIND: alive, daq_data, daqlist, login "
                   "(default: alive)")
        ->check([](const std::string& text) {
            return parseMixEntry(text) ? std::string()
                                       : "expected alive, daq_data, daqlist or login, "
                                         "optionally with :WEIGHT (1.." +
                                             std::to_string(kMaxWeight) + ")";
        });
    app.add_option("-k,--indexes", options.indexes, "DAQ_DATA: indexes per request")
        ->capture_default_str()
        ->check(CLI::Range(1, kMaxIndexes));
    app.add_option("--first-index", options.firstIndex,
                   "DAQ_DATA: first of the consecutive indexes (they wrap at the tag count)")
        ->capture_default_str()
        ->check(CLI::NonNegativeNumber);
    app.add_option("--page-size", options.pageSize, "DAQLIST: entries per page")
        ->capture_default_str()
        ->check(CLI::Range(1, kMaxPageSize));
    app.add_option("-u,--user", options.user, "User of LOGIN requests");
    app.add_option("-P,--password", options.password, "Password of LOGIN requests");
    app.add_flag("--login-first", options.loginFirst,
                 "Each connection logs in before its load starts");
    app.add_flag("--warm-first", options.warmFirst,
                 "Each connection sends the mix's first request once and reads its answer before "
                 "its load starts (with --idle: connections held idle after one answer each)");
    return requests;
}

// How the connections send: closed loop by default, or one of the exclusive modes.
void declareModeOptions(CLI::App& app, BenchOptions& options) {
    auto* rate = app.add_option("--rate", options.rate,
                                "Open loop: requests per second over all connections")
                     ->check(CLI::PositiveNumber);
    auto* idle =
        app.add_flag("--idle", options.idle, "Open the connections and hold them without requests");
    auto* stuck = app.add_flag("--stuck", options.stuck,
                               "Send the mix's requests back to back as long as the socket takes "
                               "them and never read an answer (after a LOGIN with --login-first); "
                               "reports when the server closed each connection");
    auto* endless =
        app.add_flag("--endless-frame", options.endlessFrame,
                     "Send STX, then --chunk-bytes bytes every --chunk-interval ms, never ETX; "
                     "reports when the server closed each connection");
    auto* storm = app.add_flag(
        "--storm", options.storm,
        "Each connection connects, logs in with --login-first, stays --hold ms, leaves, and "
        "starts over every --cycle ms; reports cycles, connect (+login) latency and closes by "
        "the server");
    auto* handshakes = app.add_flag(
        "--handshakes", options.handshakes,
        "--tls: each connection connects, completes its handshake, leaves, and starts over at "
        "once; reports handshakes/s and their latency (connect included)");
    app.add_flag("--resume", options.resume,
                 "--handshakes: offer the session of the connection's previous handshake "
                 "(reads the TLS 1.3 ticket first); reports the share resumed")
        ->needs(handshakes);
    handshakes->needs(app.get_option("--tls"));
    const std::vector<CLI::Option*> modes{rate, idle, stuck, endless, storm, handshakes};
    // Their own loops speak plain TCP only.
    app.get_option("--tls")->excludes(stuck)->excludes(endless)->excludes(storm);
    for (std::size_t i = 0; i < modes.size(); ++i) {
        for (std::size_t j = i + 1; j < modes.size(); ++j) {
            modes[i]->excludes(modes[j]);
        }
    }
    app.add_option("--chunk-bytes", options.chunkBytes, "Endless frame: bytes per write")
        ->capture_default_str()
        ->check(CLI::Range(1, kMaxChunkBytes));
    app.add_option("--chunk-interval", options.chunkIntervalMs,
                   "Endless frame: milliseconds between two writes")
        ->capture_default_str()
        ->check(CLI::Range(1, kMaxIntervalMs));
    app.add_option("--hold", options.holdMs,
                   "Storm: milliseconds a connection stays once set up (0: leaves at once)")
        ->capture_default_str()
        ->check(CLI::Range(0, kMaxIntervalMs));
    app.add_option("--cycle", options.cycleMs,
                   "Storm: milliseconds from one start of a connection to its next")
        ->capture_default_str()
        ->check(CLI::Range(1, kMaxIntervalMs));
    app.add_option("--max-in-flight", options.maxInFlight,
                   "Open loop: unanswered requests per connection before a send is skipped")
        ->capture_default_str()
        ->check(CLI::Range(1, kMaxInFlightBound));
}

// Waiting for answers and reporting.
void declareReportOptions(CLI::App& app, BenchOptions& options) {
    app.add_option("--timeout", options.timeoutMs, "Longest wait for an answer, in ms")
        ->capture_default_str()
        ->check(CLI::Range(1, 3600 * 1000));
    app.add_option("--server-pid", options.serverPid,
                   "Report this process's CPU time and memory over the measurement");
    app.add_option("--baseline", options.baselineSeconds,
                   "With --server-pid: first measure the server's CPU use for this many seconds "
                   "before connecting")
        ->capture_default_str()
        ->check(CLI::Range(0.0, 3600.0));
    app.add_flag("--json", options.json, "One JSON object instead of the text report");
    app.add_flag("--verify-all", options.verifyAll,
                 "Check every answer (default: the first of each kind on each connection)");
    app.add_option("--label", options.label, "Text copied into the report");
    app.add_option("--capture", options.captureFile,
                   "Send the first request of the mix once, write its answer frame to this "
                   "file and exit (the echo limit server answers with it)");
}

}  // namespace

void declareOptions(CLI::App& app, BenchOptions& options) {
    // -h is the host, as in the other clients of the server.
    app.set_help_flag("--help", "Print this help and exit");
    declareLoadOptions(app, options);
    auto requests = declareMixOptions(app, options);
    declareModeOptions(app, options);
    declareReportOptions(app, options);
    app.callback([&app, &options, requests] {
        completeOptions(options, *requests, app.count("--port") > 0);
    });
}

}  // namespace daqbench
