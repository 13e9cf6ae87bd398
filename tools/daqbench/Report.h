// The figures of one run, printed as text for people or as one JSON object for scripts.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "tools/daqbench/LatencyHistogram.h"
#include "tools/daqbench/LoadWorker.h"

namespace daqbench {

struct ServerFigures {
    pid_t pid = 0;
    std::optional<double> cpuSeconds;             // over the measured window
    std::optional<double> baselineShare;          // CPU share before the connections opened
    std::optional<std::uint64_t> residentBefore;  // before the connections were opened
    std::optional<std::uint64_t> residentAfter;   // at the end of the measured window
};

struct RunReport {
    std::string label;
    std::string target;  // host:port
    LoadMode mode = LoadMode::Closed;
    std::string requests;  // the mix's description
    int connections = 0;
    int threads = 0;
    double offeredRate = 0;  // open loop
    double warmupSeconds = 0;
    double seconds = 0;  // measured window
    int ready = 0;       // connections ready when the load began
    LatencyHistogram latency;
    std::uint64_t answers = 0;
    std::uint64_t values = 0;
    std::uint64_t bytesIn = 0;
    std::uint64_t sent = 0;
    ErrorCounts errors;
    std::uint64_t serverCloses = 0;  // stuck, endless frame, storm
    LatencyHistogram closeAfter;     // from connect to the close seen
    std::uint64_t bytesOut = 0;      // stuck, endless frame
    std::uint64_t resumed = 0;       // handshakes
    double clientCpuSeconds = 0;
    double loadAverageBefore = 0;
    double loadAverageAfter = 0;
    std::optional<ServerFigures> server;
};

void printText(const RunReport& report, std::FILE* out);
void printJson(const RunReport& report, std::FILE* out);

}  // namespace daqbench
