#include "tools/daqbench/Report.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace daqbench {

namespace {

const char* modeName(LoadMode mode) {
    switch (mode) {
        case LoadMode::Closed:
            return "closed";
        case LoadMode::Open:
            return "open";
        case LoadMode::Idle:
            return "idle";
        case LoadMode::Stuck:
            return "stuck";
        case LoadMode::Endless:
            return "endless-frame";
        case LoadMode::Storm:
            return "storm";
        case LoadMode::Handshakes:
            return "handshakes";
    }
    return "?";
}

double perSecond(double count, double seconds) {
    return seconds > 0 ? count / seconds : 0;
}

double microseconds(std::uint64_t nanoseconds) {
    return static_cast<double>(nanoseconds) / 1000.0;
}

constexpr double kMiB = 1024.0 * 1024.0;

// Loads where the server closing a connection is what is measured.
bool countsCloses(LoadMode mode) {
    return mode == LoadMode::Stuck || mode == LoadMode::Endless || mode == LoadMode::Storm;
}

// Server CPU per request in µs, when both are known.
std::optional<double> cpuPerRequest(const RunReport& report) {
    if (!report.server || !report.server->cpuSeconds || report.answers == 0) {
        return std::nullopt;
    }
    return *report.server->cpuSeconds * 1e6 / static_cast<double>(report.answers);
}

std::optional<double> residentPerConnection(const RunReport& report) {
    if (!report.server || !report.server->residentBefore || !report.server->residentAfter ||
        report.ready == 0) {
        return std::nullopt;
    }
    return (static_cast<double>(*report.server->residentAfter) -
            static_cast<double>(*report.server->residentBefore)) /
           report.ready;
}

// The load and its throughput and latency, or how long idle connections were held.
void printLoadText(const RunReport& report, std::FILE* out) {
    std::fprintf(out, "%s%s%s %s loop, %d connections (%d ready) on %d threads, %s\n",
                 report.label.c_str(), report.label.empty() ? "" : ": ", report.target.c_str(),
                 modeName(report.mode), report.connections, report.ready, report.threads,
                 report.mode == LoadMode::Idle || report.mode == LoadMode::Handshakes
                     ? "no requests"
                     : report.requests.c_str());
    if (report.mode == LoadMode::Open) {
        std::fprintf(out, "offered %.0f requests/s; sent %llu in the window\n", report.offeredRate,
                     static_cast<unsigned long long>(report.sent));
    }
    if (report.mode == LoadMode::Handshakes) {
        std::fprintf(out, "%llu handshakes in %.2f s: %.0f handshakes/s, %.1f %% resumed\n",
                     static_cast<unsigned long long>(report.answers), report.seconds,
                     perSecond(static_cast<double>(report.answers), report.seconds),
                     report.answers == 0 ? 0.0
                                         : 100.0 * static_cast<double>(report.resumed) /
                                               static_cast<double>(report.answers));
    } else if (report.mode != LoadMode::Idle && report.mode != LoadMode::Stuck &&
               report.mode != LoadMode::Endless) {
        std::fprintf(out, "%llu answers in %.2f s: %.0f requests/s, %.0f values/s, %.1f MiB/s in\n",
                     static_cast<unsigned long long>(report.answers), report.seconds,
                     perSecond(static_cast<double>(report.answers), report.seconds),
                     perSecond(static_cast<double>(report.values), report.seconds),
                     perSecond(static_cast<double>(report.bytesIn), report.seconds) / kMiB);
    } else {
        std::fprintf(out, "held %.2f s\n", report.seconds);
        return;
    }
    const LatencyHistogram& latency = report.latency;
    std::fprintf(out, "latency µs: p50 %.1f  p99 %.1f  p99.9 %.1f  max %.1f  mean %.1f\n",
                 microseconds(latency.percentile(50)), microseconds(latency.percentile(99)),
                 microseconds(latency.percentile(99.9)), microseconds(latency.max()),
                 latency.mean() / 1000.0);
}

void printErrorsText(const ErrorCounts& e, std::FILE* out) {
    if (e.total() == 0) {
        std::fprintf(out, "errors: none\n");
    } else {
        std::fprintf(
            out,
            "errors: %llu (connect %llu, login %llu, closed %llu, timeout %llu, bad "
            "answer %llu, skipped %llu)\n",
            static_cast<unsigned long long>(e.total()), static_cast<unsigned long long>(e.connect),
            static_cast<unsigned long long>(e.login), static_cast<unsigned long long>(e.closed),
            static_cast<unsigned long long>(e.timeout),
            static_cast<unsigned long long>(e.badAnswer),
            static_cast<unsigned long long>(e.skipped));
    }
}

void printServerText(const RunReport& report, std::FILE* out) {
    const ServerFigures& server = *report.server;
    std::fprintf(out, "server %d:", static_cast<int>(server.pid));
    if (server.cpuSeconds) {
        std::fprintf(out, " cpu %.2f s (%.1f %% of a core)", *server.cpuSeconds,
                     100.0 * perSecond(*server.cpuSeconds, report.seconds));
    }
    if (server.baselineShare) {
        std::fprintf(out, " [%.1f %% before connecting]", 100.0 * *server.baselineShare);
    }
    if (const auto perRequest = cpuPerRequest(report)) {
        std::fprintf(out, ", %.2f µs per request", *perRequest);
    }
    if (server.residentAfter) {
        std::fprintf(out, ", rss %.1f MiB", static_cast<double>(*server.residentAfter) / kMiB);
    }
    if (const auto perConnection = residentPerConnection(report)) {
        std::fprintf(out, " (%.0f bytes per connection)", *perConnection);
    }
    std::fprintf(out, "\n");
}

// Writes one JSON object, member by member.
class JsonWriter {
  public:
    void number(const char* key, double value) {
        json_.Key(key);
        json_.Double(value);
    }
    void count(const char* key, std::uint64_t value) {
        json_.Key(key);
        json_.Uint64(value);
    }
    void text(const char* key, const std::string& value) {
        json_.Key(key);
        json_.String(value.c_str(), static_cast<rapidjson::SizeType>(value.size()));
    }
    void startObject() { json_.StartObject(); }
    void startObject(const char* key) {
        json_.Key(key);
        json_.StartObject();
    }
    void endObject() { json_.EndObject(); }
    const char* result() const { return buffer_.GetString(); }

  private:
    rapidjson::StringBuffer buffer_;
    rapidjson::Writer<rapidjson::StringBuffer> json_{buffer_};
};

void writeLatency(JsonWriter& json, const LatencyHistogram& latency) {
    json.startObject("latency_us");
    json.number("p50", microseconds(latency.percentile(50)));
    json.number("p99", microseconds(latency.percentile(99)));
    json.number("p99_9", microseconds(latency.percentile(99.9)));
    json.number("max", microseconds(latency.max()));
    json.number("mean", latency.mean() / 1000.0);
    json.endObject();
}

void writeErrors(JsonWriter& json, const ErrorCounts& errors) {
    json.startObject("errors");
    json.count("total", errors.total());
    json.count("connect", errors.connect);
    json.count("login", errors.login);
    json.count("closed", errors.closed);
    json.count("timeout", errors.timeout);
    json.count("bad_answer", errors.badAnswer);
    json.count("skipped", errors.skipped);
    json.endObject();
}

void writeCloses(JsonWriter& json, const RunReport& report) {
    json.count("server_closes", report.serverCloses);
    json.startObject("close_after_ms");
    json.number("min", microseconds(report.closeAfter.min()) / 1000.0);
    json.number("p50", microseconds(report.closeAfter.percentile(50)) / 1000.0);
    json.number("max", microseconds(report.closeAfter.max()) / 1000.0);
    json.endObject();
    json.count("bytes_out", report.bytesOut);
}

void writeServer(JsonWriter& json, const RunReport& report) {
    const ServerFigures& server = *report.server;
    json.startObject("server");
    json.count("pid", static_cast<std::uint64_t>(server.pid));
    if (server.cpuSeconds) {
        json.number("cpu_s", *server.cpuSeconds);
        json.number("cpu_share", perSecond(*server.cpuSeconds, report.seconds));
    }
    if (server.baselineShare) {
        json.number("baseline_cpu_share", *server.baselineShare);
    }
    if (const auto perRequest = cpuPerRequest(report)) {
        json.number("cpu_us_per_request", *perRequest);
    }
    if (server.residentBefore) {
        json.count("rss_before", *server.residentBefore);
    }
    if (server.residentAfter) {
        json.count("rss_after", *server.residentAfter);
    }
    if (const auto perConnection = residentPerConnection(report)) {
        json.number("rss_per_connection", *perConnection);
    }
    json.endObject();
}

}  // namespace

void printText(const RunReport& report, std::FILE* out) {
    printLoadText(report, out);
    if (countsCloses(report.mode)) {
        std::fprintf(out,
                     "closed by the server: %llu, after (ms from connect) p50 %.1f  max %.1f; "
                     "%.1f KiB written\n",
                     static_cast<unsigned long long>(report.serverCloses),
                     microseconds(report.closeAfter.percentile(50)) / 1000.0,
                     microseconds(report.closeAfter.max()) / 1000.0,
                     static_cast<double>(report.bytesOut) / 1024.0);
    }
    printErrorsText(report.errors, out);
    if (report.server) {
        printServerText(report, out);
    }
    std::fprintf(out, "client cpu %.2f s; load average %.2f before, %.2f after\n",
                 report.clientCpuSeconds, report.loadAverageBefore, report.loadAverageAfter);
}

void printJson(const RunReport& report, std::FILE* out) {
    JsonWriter json;
    json.startObject();
    json.text("label", report.label);
    json.text("target", report.target);
    json.text("mode", modeName(report.mode));
    json.text("requests", report.requests);
    json.count("connections", static_cast<std::uint64_t>(report.connections));
    json.count("ready", static_cast<std::uint64_t>(report.ready));
    json.count("threads", static_cast<std::uint64_t>(report.threads));
    json.number("offered_rate", report.offeredRate);
    json.number("warmup_s", report.warmupSeconds);
    json.number("seconds", report.seconds);
    json.count("answers", report.answers);
    json.count("sent", report.sent);
    json.count("values", report.values);
    json.count("bytes_in", report.bytesIn);
    json.number("requests_per_s", perSecond(static_cast<double>(report.answers), report.seconds));
    json.number("values_per_s", perSecond(static_cast<double>(report.values), report.seconds));
    writeLatency(json, report.latency);
    writeErrors(json, report.errors);
    if (countsCloses(report.mode)) {
        writeCloses(json, report);
    }
    if (report.mode == LoadMode::Handshakes) {
        json.count("resumed", report.resumed);
    }
    json.number("client_cpu_s", report.clientCpuSeconds);
    json.number("load_average_before", report.loadAverageBefore);
    json.number("load_average_after", report.loadAverageAfter);
    if (report.server) {
        writeServer(json, report);
    }
    json.endObject();
    std::fprintf(out, "%s\n", json.result());
}

}  // namespace daqbench
