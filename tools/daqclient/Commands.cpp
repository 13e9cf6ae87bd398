// The commands that ask one thing and show its answer: alive, info, status, devices, raw,
// latency.
#include "tools/daqclient/Commands.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>

#include "server/protocol/JsonRequest.h"
#include "tools/daqclient/Devices.h"

namespace daqclient {

namespace {

using daq::protocol::getJsonString;
using Clock = std::chrono::steady_clock;

void checkRawRequest(const std::string& request) {
    if (request.find_first_of(std::string("\x02\x03", 2)) != std::string::npos) {
        throw CommandError(ExitCode::Usage,
                           "a request must not hold the frame bytes STX (0x02) or ETX (0x03)");
    }
}

// The next line of standard input without its end (LF or CR LF); nothing at the end of input.
std::optional<std::string> readRequestLine() {
    std::string line;
    int c = 0;
    while ((c = std::getc(stdin)) != EOF && c != '\n') {
        if (line.size() == kMaxRawLineBytes) {
            throw CommandError(ExitCode::Usage,
                               "a request line of the standard input is longer than " +
                                   std::to_string(kMaxRawLineBytes) + " bytes");
        }
        line += static_cast<char>(c);
    }
    if (c == EOF && line.empty()) {
        return std::nullopt;
    }
    if (line.ends_with('\r')) {
        line.pop_back();
    }
    return line;
}

// Sends one request and prints its answer. A request without an answer in time is reported
// and false given; the connection stays for the next request.
bool sendRawRequest(ServerLink& link, Output& out, const std::string& request) {
    try {
        out.printText(link.requestText(request) + "\n");
        return true;
    } catch (const CommandError& error) {
        if (error.code() != ExitCode::NoAnswer) {
            throw;
        }
        std::fprintf(stderr, "daqclient: %s\n", error.what());
        return false;
    }
}

std::string milliseconds(Clock::duration duration) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f",
                  std::chrono::duration<double, std::milli>(duration).count());
    return text;
}

}  // namespace

void runAlive(ServerLink& link, Output& out) {
    const auto sent = Clock::now();
    const auto answer = link.request(daq::client::aliveRequest(), "ALIVE");
    const auto roundTrip = Clock::now() - sent;
    out.print({{"time", value("round_trip_ms")},
               {{getJsonString(answer, "TIME"), milliseconds(roundTrip)}},
               true});
}

void runInfo(ServerLink& link, Output& out) {
    const auto answer = link.request(daq::client::projectInfoRequest(), "PROJECTINFO");
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
    const auto answer = link.request(daq::client::daqStatusRequest(), "DAQSTATUS");
    out.print({{"status"}, {{getJsonString(answer, "STATUS")}}, true});
}

void runDevices(ServerLink& link, Output& out) {
    Table table{{"interface", "device", "model", "station", value("connect_state")}, {}, false};
    for (const Device& device : fetchDevices(link)) {
        table.rows.push_back({device.interfaceName, device.deviceName, device.model, device.station,
                              device.connectState});
    }
    out.print(table);
}

void runRaw(ServerLink& link, Output& out, const std::vector<std::string>& requests) {
    for (const std::string& request : requests) {
        if (request != kRawFromInput) {
            checkRawRequest(request);
        }
    }
    int sent = 0;
    int unanswered = 0;
    auto send = [&](const std::string& request) {
        ++sent;
        unanswered += sendRawRequest(link, out, request) ? 0 : 1;
    };
    for (const std::string& request : requests) {
        if (request != kRawFromInput) {
            send(request);
            continue;
        }
        while (const auto line = readRequestLine()) {
            if (!line->empty()) {
                checkRawRequest(*line);
                send(*line);
            }
        }
    }
    if (unanswered > 0) {
        throw CommandError(
            ExitCode::NoAnswer,
            std::to_string(unanswered) + " of " + std::to_string(sent) + " requests got no answer");
    }
}

void runLatency(ServerLink& link, Output& out, const LatencyOptions& options) {
    std::vector<Clock::duration> times;
    times.reserve(static_cast<std::size_t>(options.count));
    for (int i = 0; i < options.count; ++i) {
        const auto sent = Clock::now();
        link.request(daq::client::aliveRequest(), "ALIVE");
        times.push_back(Clock::now() - sent);
    }
    std::sort(times.begin(), times.end());
    const std::size_t n = times.size();
    // Nearest rank: the smallest time that at least p % of the round trips did not exceed.
    auto rank = [&](double percent) {
        const auto position = static_cast<std::size_t>(std::ceil(percent / 100.0 * n));
        return times[std::clamp<std::size_t>(position, 1, n) - 1];
    };
    out.print({{value("round_trips"), value("min_ms"), value("median_ms"), value("p99_ms"),
                value("max_ms")},
               {{std::to_string(n), milliseconds(times.front()), milliseconds(rank(50)),
                 milliseconds(rank(99)), milliseconds(times.back())}},
               true});
}

}  // namespace daqclient
