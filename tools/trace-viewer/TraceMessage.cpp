#include "tools/trace-viewer/TraceMessage.h"

#include <array>
#include <charconv>

namespace traceviewer {

namespace {

constexpr std::size_t kSuffixFields = 8;
constexpr std::string_view kSenderPrefix = "Kelvane ";
// A 32-bit identifier.
constexpr std::size_t kMaxSenderDigits = 8;

bool parseInt(std::string_view field, int& value) {
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
    return error == std::errc() && end == field.data() + field.size() && !field.empty();
}

bool isHex(std::string_view digits) {
    if (digits.empty() || digits.size() > kMaxSenderDigits) {
        return false;
    }
    return digits.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

}  // namespace

TraceMessage parseTraceMessage(std::string_view datagram) {
    TraceMessage message;
    message.text = datagram.substr(0, datagram.find('\0'));

    // fields[0..7]: "14", "Kelvane <id>", "0", level, "-1", line, operation, file.
    std::array<std::string_view, kSuffixFields> fields;
    std::size_t end = message.text.size();
    for (std::size_t i = kSuffixFields; i-- > 0;) {
        const std::size_t bar =
            end == 0 ? std::string_view::npos : message.text.rfind('|', end - 1);
        if (bar == std::string_view::npos) {
            return message;
        }
        fields[i] = message.text.substr(bar + 1, end - bar - 1);
        end = bar;
    }

    int level = 0;
    int line = 0;
    if (fields[0] != "14" || !fields[1].starts_with(kSenderPrefix) ||
        !isHex(fields[1].substr(kSenderPrefix.size())) || fields[2] != "0" ||
        !parseInt(fields[3], level) || fields[4] != "-1" || !parseInt(fields[5], line)) {
        return message;
    }
    message.located = true;
    message.sender = fields[1].substr(kSenderPrefix.size());
    message.level = level;
    message.line = line;
    message.operation = fields[6];
    message.file = fields[7];
    message.text = message.text.substr(0, end);
    return message;
}

}  // namespace traceviewer
