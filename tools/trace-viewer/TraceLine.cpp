#include "tools/trace-viewer/TraceLine.h"

#include <cstdio>
#include <ctime>

#include "trace/Trace.h"

namespace traceviewer {

namespace {

constexpr std::string_view kRed = "\x1b[31m";
constexpr std::string_view kYellow = "\x1b[33m";
constexpr std::string_view kReset = "\x1b[0m";

// Column widths: a 32-bit identifier in hex, the longest level label.
constexpr int kSenderWidth = 8;
constexpr int kLevelWidth = 7;

void appendEscaped(std::string& out, std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        // C0 controls, DEL, and the C1 controls (U+0080 to U+009F, C2 80 to C2 9F in UTF-8).
        const bool c1 = byte == 0xC2 && i + 1 < text.size() &&
                        static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(text[i + 1]) <= 0x9F;
        if (byte < 0x20 || byte == 0x7F || c1) {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\x%02x", byte);
            out += escape;
            if (c1) {
                std::snprintf(escape, sizeof escape, "\\x%02x",
                              static_cast<unsigned char>(text[++i]));
                out += escape;
            }
        } else {
            out += text[i];
        }
    }
}

std::string levelLabel(int level) {
    switch (level) {
        case daq::kTraceInfo:
            return "info";
        case daq::kTraceError:
            return "error";
        default:
            return "level " + std::to_string(level);
    }
}

void appendPadded(std::string& out, std::string_view text, int width) {
    out += text;
    if (static_cast<int>(text.size()) < width) {
        out.append(static_cast<std::size_t>(width) - text.size(), ' ');
    }
}

}  // namespace

std::string formatReceiveTime(std::chrono::system_clock::time_point received) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(received);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(received.time_since_epoch()) %
        std::chrono::seconds(1);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min,
                  local.tm_sec, static_cast<int>(millis.count()));
    return text;
}

std::string formatTraceLine(const TraceMessage& message, std::string_view time, bool colour) {
    std::string line(time);
    line += "  ";
    if (message.located) {
        appendPadded(line, message.sender, kSenderWidth);
        line += "  ";
        const std::string label = levelLabel(message.level);
        const std::string_view mark = message.level >= daq::kTraceError ? kRed
                                      : message.level > daq::kTraceInfo ? kYellow
                                                                        : std::string_view();
        if (colour && !mark.empty()) {
            line += mark;
            appendPadded(line, label, kLevelWidth);
            line += kReset;
        } else {
            appendPadded(line, label, kLevelWidth);
        }
        line += "  ";
        appendEscaped(line, message.operation);
        line += "  ";
        appendEscaped(line, message.file);
        line += ':' + std::to_string(message.line) + "  ";
    }
    appendEscaped(line, message.text);
    return line;
}

}  // namespace traceviewer
