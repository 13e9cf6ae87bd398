#include "server/protocol/RequestValues.h"

#include <charconv>
#include <stdexcept>

#include "server/protocol/JsonRequest.h"
#include "server/protocol/Request.h"
#include "server/protocol/TraceText.h"
#include "trace/Trace.h"

namespace daq::protocol {

std::optional<int32_t> toInteger(std::string_view text) {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-') {
            return std::nullopt;
        }
    }
    int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<int32_t> integerValue(const rapidjson::Value& value) {
    if (value.IsString()) {
        return toInteger({value.GetString(), value.GetStringLength()});
    }
    if (value.IsObject() || value.IsArray()) {
        throw std::runtime_error("an object or an array where an integer was expected");
    }
    // A number parsed as a number (the parser keeps them as text) or true, false, null.
    if (value.IsInt()) {
        return value.GetInt();
    }
    return std::nullopt;
}

std::optional<int32_t> readInteger(const rapidjson::Value& request, std::string_view path,
                                   std::optional<int32_t> absent) {
    const rapidjson::Value* value = findJsonPath(request, path);
    return value == nullptr ? absent : integerValue(*value);
}

Page readPage(const rapidjson::Value& request, const char* operation) {
    const std::optional<int32_t> start = readInteger(request, "START_INDEX");
    if (!start) {
        DAQ_TRACE(kTraceError, operation, "RequestValues.cpp",
                  "START_INDEX %s is not an integer: no entries",
                  traceText(getJsonString(request, "START_INDEX")).c_str());
        return {};
    }
    return {*start, readInteger(request, "LIST_SIZE").value_or(0)};
}

}  // namespace daq::protocol
