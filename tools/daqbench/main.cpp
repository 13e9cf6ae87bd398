// daqbench: load generator of the DAQ server. Closed loop (each connection waits for its
// answer before the next request), open loop at a fixed rate, idle connections, or TLS
// handshakes back to back; reports throughput, latency percentiles, errors and, given the
// server's pid, its CPU time and memory.
#include <netdb.h>
#include <sys/resource.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <exception>
#include <fstream>
#include <future>
#include <latch>
#include <memory>
#include <thread>

#include "server/protocol/Frame.h"
#include "tools/client/DaqClient.h"
#include "tools/client/TlsContext.h"
#include "tools/daqbench/BenchOptions.h"
#include "tools/daqbench/LoadWorker.h"
#include "tools/daqbench/ProcessUsage.h"
#include "tools/daqbench/Report.h"
#include "tools/daqbench/SilentWriter.h"
#include "tools/daqbench/StormWorker.h"

namespace {

using namespace daqbench;

constexpr int kExitErrors = 1;
constexpr int kExitUsage = 2;
constexpr int kExitUnreachable = 3;

const char* const kFooter =
    "Exit codes: 0 the run ended without errors, 1 errors were counted (see the report),\n"
    "2 usage error (also a --cafile without a certificate), 3 the server could not be reached\n"
    "or asked (also: its certificate was refused; the reason follows).\n"
    "Example: daqbench -c 16 -r daq_data -k 100 -d 5 --server-pid $(pidof kelvane-host)\n";

// Idle runs hold many connections: use every descriptor the hard limit allows.
void raiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

std::optional<sockaddr_in> resolve(const std::string& host, std::uint16_t port) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
        return std::nullopt;
    }
    sockaddr_in address = *reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    freeaddrinfo(found);
    address.sin_port = htons(port);
    return address;
}

// The IO map's record count from "DAQLISTCOUNT"; 0 when the answer has none (an echo server).
std::int32_t tagCount(daq::client::DaqClient& client) {
    const auto answer = client.daqListCount();
    if (!answer || !answer->IsObject() || !answer->HasMember("COUNT")) {
        return 0;
    }
    const rapidjson::Value& count = (*answer)["COUNT"];
    std::int32_t value = 0;
    if (count.IsString()) {
        std::from_chars(count.GetString(), count.GetString() + count.GetStringLength(), value);
    } else if (count.IsInt()) {
        value = count.GetInt();
    }
    return std::max(value, 0);
}

// Sends the first request of the mix once and writes its answer frame, as the server sent it.
int capture(daq::client::DaqClient& client, const RequestMix& mix, const BenchOptions& options) {
    if (options.loginFirst && !client.login(options.user, options.password)) {
        std::fprintf(stderr, "daqbench: login failed: %s\n", client.lastError().c_str());
        return kExitUnreachable;
    }
    const std::string& frame = mix.at(0).frames.front();
    std::optional<std::string> text;
    if (client.connection().sendRaw(frame)) {
        text = client.connection().readFrame();
    }
    if (!text) {
        std::fprintf(stderr, "daqbench: no answer to capture: %s\n",
                     client.connection().lastError().c_str());
        return kExitUnreachable;
    }
    std::string answer;
    daq::protocol::buildFrame(*text, answer);
    std::ofstream out(options.captureFile, std::ios::binary | std::ios::trunc);
    out.write(answer.data(), static_cast<std::streamsize>(answer.size()));
    if (!out) {
        std::fprintf(stderr, "daqbench: cannot write %s\n", options.captureFile.c_str());
        return kExitErrors;
    }
    return 0;
}

// With --tls, what every connection checks of the server.
std::optional<daq::client::TlsSettings> tlsSettings(const BenchOptions& options) {
    if (!options.tls) {
        return std::nullopt;
    }
    daq::client::TlsSettings settings;
    settings.caFile = options.caFile;
    settings.verify = !options.insecure;
    settings.serverName = options.host;
    return settings;
}

std::vector<WorkerPlan> planWorkers(const BenchOptions& options, const sockaddr_in& address,
                                    const RequestMix& mix, SSL_CTX* tls) {
    std::vector<WorkerPlan> plans;
    std::size_t first = 0;
    for (int i = 0; i < options.threads; ++i) {
        WorkerPlan plan;
        plan.address = address;
        plan.tls = tls;
        plan.tlsSettings = tlsSettings(options).value_or(daq::client::TlsSettings{});
        plan.connections =
            options.connections / options.threads + (i < options.connections % options.threads);
        plan.firstConnection = first;
        first += static_cast<std::size_t>(plan.connections);
        const double share = static_cast<double>(plan.connections) / options.connections;
        plan.mode = options.mode();
        plan.rate = options.rate * share;
        plan.maxRequests = options.maxRequests == 0
                               ? 0
                               : std::max<std::uint64_t>(
                                     1, static_cast<std::uint64_t>(std::ceil(
                                            static_cast<double>(options.maxRequests) * share)));
        plan.loginFirst = options.loginFirst;
        plan.warmFirst = options.warmFirst;
        plan.verifyAll = options.verifyAll;
        plan.maxInFlight = options.maxInFlight;
        plan.timeout = std::chrono::milliseconds(options.timeoutMs);
        plan.mix = &mix;
        plan.chunkBytes = options.chunkBytes;
        plan.chunkInterval = std::chrono::milliseconds(options.chunkIntervalMs);
        plan.hold = std::chrono::milliseconds(options.holdMs);
        plan.cycle = std::chrono::milliseconds(options.cycleMs);
        plan.resume = options.resume;
        plans.push_back(plan);
    }
    return plans;
}

std::unique_ptr<LoadThread> makeWorker(const WorkerPlan& plan) {
    switch (plan.mode) {
        case LoadMode::Stuck:
        case LoadMode::Endless:
            return std::make_unique<SilentWriter>(plan);
        case LoadMode::Storm:
            return std::make_unique<StormWorker>(plan);
        case LoadMode::Closed:
        case LoadMode::Open:
        case LoadMode::Idle:
        case LoadMode::Handshakes:
            break;
    }
    return std::make_unique<LoadWorker>(plan);
}

std::chrono::nanoseconds secondsToDuration(double seconds) {
    return std::chrono::nanoseconds(static_cast<std::int64_t>(seconds * 1e9));
}

// The run's settings, and the server's memory and idle CPU use before the load.
RunReport describeRun(const BenchOptions& options, const RequestMix& mix) {
    RunReport report;
    report.label = options.label;
    report.target = options.host + ":" + std::to_string(options.port);
    report.mode = options.mode();
    report.requests = mix.description();
    report.connections = options.connections;
    report.threads = options.threads;
    report.offeredRate = options.rate;
    report.warmupSeconds = options.warmupSeconds;
    report.loadAverageBefore = loadAverage();
    if (options.serverPid) {
        report.server = ServerFigures{*options.serverPid, {}, {}, {}, {}};
        const auto before = readProcessUsage(*options.serverPid);
        if (before) {
            report.server->residentBefore = before->residentBytes;
        }
        if (before && options.baselineSeconds > 0) {
            std::this_thread::sleep_for(secondsToDuration(options.baselineSeconds));
            if (const auto after = readProcessUsage(*options.serverPid)) {
                report.server->baselineShare =
                    (after->cpuSeconds - before->cpuSeconds) / options.baselineSeconds;
            }
        }
    }
    return report;
}

// One thread per worker: each connects its connections, then runs its load along the timeline
// that start() sets once all have connected, so no connect falls into the measurement.
class WorkerThreads {
  public:
    explicit WorkerThreads(const std::vector<std::unique_ptr<LoadThread>>& workers)
        : workers_(workers),
          connected_(static_cast<std::ptrdiff_t>(workers.size())),
          failures_(workers.size()) {
        for (std::size_t i = 0; i < workers_.size(); ++i) {
            threads_.emplace_back([this, i] { runWorker(i); });
        }
    }

    // Waits for every worker's connections, then starts the load now.
    Timeline start(const BenchOptions& options) {
        connected_.wait();
        Timeline when;
        when.start = Clock::now();
        when.measureFrom = when.start + secondsToDuration(options.warmupSeconds);
        when.stopAt = when.measureFrom + secondsToDuration(options.durationSeconds);
        timelinePromise_.set_value(when);
        return when;
    }

    // Waits for the workers to end; rethrows the first one's failure.
    void join() {
        for (std::thread& thread : threads_) {
            thread.join();
        }
        for (const std::exception_ptr& failure : failures_) {
            if (failure) {
                std::rethrow_exception(failure);
            }
        }
    }

  private:
    void runWorker(std::size_t i) {
        try {
            workers_[i]->connectAll();
        } catch (...) {
            failures_[i] = std::current_exception();
        }
        connected_.count_down();
        try {
            if (!failures_[i]) {
                workers_[i]->run(timeline_.get());
            }
        } catch (...) {
            failures_[i] = std::current_exception();
        }
    }

    const std::vector<std::unique_ptr<LoadThread>>& workers_;
    std::latch connected_;
    std::promise<Timeline> timelinePromise_;
    std::shared_future<Timeline> timeline_ = timelinePromise_.get_future().share();
    std::vector<std::exception_ptr> failures_;
    std::vector<std::thread> threads_;
};

// Adds up what the workers counted; the measurement ends with the last worker or at the stop.
void addWorkerResults(RunReport& report, const std::vector<std::unique_ptr<LoadThread>>& workers,
                      const Timeline& when) {
    Clock::time_point end = when.measureFrom;
    for (const auto& worker : workers) {
        const WorkerResult& result = worker->result();
        report.latency.merge(result.latency);
        report.answers += result.answers;
        report.values += result.values;
        report.bytesIn += result.bytesIn;
        report.sent += result.sent;
        report.errors.add(result.errors);
        report.serverCloses += result.serverCloses;
        report.closeAfter.merge(result.closeAfter);
        report.bytesOut += result.bytesOut;
        report.ready += result.ready;
        report.resumed += result.resumed;
        end = std::max(end, result.finishedAt);
    }
    report.seconds =
        std::chrono::duration<double>(std::min(end, when.stopAt) - when.measureFrom).count();
}

RunReport runLoad(const BenchOptions& options, const sockaddr_in& address, const RequestMix& mix,
                  SSL_CTX* tls) {
    RunReport report = describeRun(options, mix);
    std::vector<std::unique_ptr<LoadThread>> workers;
    for (const WorkerPlan& plan : planWorkers(options, address, mix, tls)) {
        workers.push_back(makeWorker(plan));
    }
    WorkerThreads threads(workers);
    const Timeline when = threads.start(options);

    std::this_thread::sleep_until(when.measureFrom);
    const double clientCpuBefore = ownCpuSeconds();
    std::optional<ProcessUsage> serverBefore;
    if (options.serverPid) {
        serverBefore = readProcessUsage(*options.serverPid);
    }
    threads.join();
    if (options.serverPid) {
        const auto serverAfter = readProcessUsage(*options.serverPid);
        if (serverBefore && serverAfter) {
            report.server->cpuSeconds = serverAfter->cpuSeconds - serverBefore->cpuSeconds;
            report.server->residentAfter = serverAfter->residentBytes;
        }
    }
    report.clientCpuSeconds = ownCpuSeconds() - clientCpuBefore;
    addWorkerResults(report, workers, when);
    report.loadAverageAfter = loadAverage();
    return report;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Load generator of the DAQ server", "daqbench"};
    app.footer(kFooter);
    BenchOptions options;
    declareOptions(app, options);
    CLI11_PARSE(app, argc, argv);

    raiseDescriptorLimit();
    const auto address = resolve(options.host, options.port);
    if (!address) {
        std::fprintf(stderr, "daqbench: cannot resolve %s\n", options.host.c_str());
        return kExitUnreachable;
    }
    // Only loads whose requests carry indexes ask the server for its tag count first; the
    // others open no connection beyond their own (a full server would refuse it).
    const LoadMode mode = options.mode();
    const bool asksTags = mode == LoadMode::Closed || mode == LoadMode::Open ||
                          mode == LoadMode::Stuck || !options.captureFile.empty();
    daq::client::SslContextPtr tls;
    if (options.tls) {
        std::string error;
        tls = daq::client::makeTlsContext(*tlsSettings(options), error);
        if (!tls) {
            std::fprintf(stderr, "daqbench: %s\n", error.c_str());
            return kExitUsage;
        }
    }
    if (options.insecure) {
        std::fputs("daqbench: warning: --insecure: the server's certificate is not verified\n",
                   stderr);
    }
    std::int32_t tags = 0;
    daq::client::ClientSettings settings;
    settings.connectTimeout = settings.replyTimeout = std::chrono::milliseconds(options.timeoutMs);
    settings.tls = tlsSettings(options);
    daq::client::DaqClient client(settings);
    if (asksTags) {
        if (!client.connect(options.host, options.port)) {
            std::fprintf(stderr, "daqbench: cannot connect to %s:%u: %s\n", options.host.c_str(),
                         options.port, client.connection().lastError().c_str());
            return kExitUnreachable;
        }
        tags = tagCount(client);
    }
    const RequestMix mix(options, tags);
    if (!options.captureFile.empty()) {
        return capture(client, mix, options);
    }
    client.close();

    try {
        const RunReport report = runLoad(options, *address, mix, tls.get());
        (options.json ? printJson : printText)(report, stdout);
        return report.errors.total() == 0 ? 0 : kExitErrors;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "daqbench: %s\n", error.what());
        return kExitErrors;
    }
}
