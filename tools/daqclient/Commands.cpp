// The commands that ask one thing and show its answer: alive, info, status, devices, raw,
// latency.
#include "tools/daqclient/Commands.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "server/protocol/json_request.h"
#include "tools/daqclient/Devices.h"

namespace daqclient {

namespace {

using daq::protocol::getJsonString;
using Clock = std::chrono::steady_clock;

std::string milliseconds(Clock::duration duration) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f",
                  std::chrono::duration<double, std::milli>(duration).count());
    return text;
}

}  // namespace

void runAlive(ServerLink& link, Output& out) {
    const auto sent = Clock::now();
    const auto answer = link.request(daq::client::requests::alive(), "ALIVE");
    const auto roundTrip = Clock::now() - sent;
    out.print({{"time", "round_trip_ms"},
               {{getJsonString(answer, "TIME"), milliseconds(roundTrip)}},
               true});
}

void runInfo(ServerLink& link, Output& out) {
    const auto answer = link.request(daq::client::requests::projectInfo(), "PROJECTINFO");
    const auto* info = daq::protocol::findJsonPath(answer, "INFO");
    if (info == nullptr || !info->IsObject()) {
        throw CommandError(ExitCode::Failure, "bad answer to PROJECTINFO: no INFO");
    }
    out.print({{"project", "company", "worker", "description"},
               {{getJsonString(*info, "PROJECT_NAME"), getJsonString(*info, "COMPANY"),
                 getJsonString(*info, "WORKER"), getJsonString(*info, "DESCRIPTION")}},
               true});
}

void runStatus(ServerLink& link, Output& out) {
    const auto answer = link.request(daq::client::requests::daqStatus(), "DAQSTATUS");
    out.print({{"status"}, {{getJsonString(answer, "STATUS")}}, true});
}

void runDevices(ServerLink& link, Output& out) {
    Table table{{"interface", "device", "model", "station", "connect_state"}, {}, false};
    for (const Device& device : fetchDevices(link)) {
        table.rows.push_back({device.interfaceName, device.deviceName, device.model, device.station,
                              device.connectState});
    }
    out.print(table);
}

void runRaw(ServerLink& link, Output& out, const std::vector<std::string>& requests) {
    for (const std::string& request : requests) {
        if (request.find_first_of(std::string("\x02\x03", 2)) != std::string::npos) {
            throw CommandError(ExitCode::Usage,
                               "a request must not hold the frame bytes STX (0x02) or ETX (0x03)");
        }
    }
    for (const std::string& request : requests) {
        out.printText(link.requestText(request) + "\n");
    }
}

void runLatency(ServerLink& link, Output& out, const LatencyOptions& options) {
    std::vector<Clock::duration> times;
    times.reserve(static_cast<std::size_t>(options.count));
    for (int i = 0; i < options.count; ++i) {
        const auto sent = Clock::now();
        link.request(daq::client::requests::alive(), "ALIVE");
        times.push_back(Clock::now() - sent);
    }
    std::sort(times.begin(), times.end());
    const std::size_t n = times.size();
    // Nearest rank: the smallest time that at least p % of the round trips did not exceed.
    auto rank = [&](double percent) {
        const auto position = static_cast<std::size_t>(std::ceil(percent / 100.0 * n));
        return times[std::clamp<std::size_t>(position, 1, n) - 1];
    };
    out.print({{"round_trips", "min_ms", "median_ms", "p99_ms", "max_ms"},
               {{std::to_string(n), milliseconds(times.front()), milliseconds(rank(50)),
                 milliseconds(rank(99)), milliseconds(times.back())}},
               true});
}

}  // namespace daqclient
