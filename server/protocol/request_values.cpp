#include "server/protocol/request_values.h"

#include <charconv>
#include <stdexcept>

#include "server/protocol/json_request.h"

namespace daq::protocol {

int32_t toInteger(std::string_view text) {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-') {
            return 0;
        }
    }
    int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc{} && end == text.data() + text.size() ? value : 0;
}

int32_t readInteger(const rapidjson::Value& request, std::string_view path, int32_t fallback) {
    const rapidjson::Value* value = findJsonPath(request, path);
    if (value == nullptr) {
        return fallback;
    }
    return elementInteger(*value);
}

int32_t elementInteger(const rapidjson::Value& element) {
    if (element.IsString()) {
        return toInteger({element.GetString(), element.GetStringLength()});
    }
    if (element.IsObject() || element.IsArray()) {
        throw std::runtime_error("an object or an array where an integer was expected");
    }
    // A number parsed as a number (the parser keeps them as text) or true, false, null.
    return element.IsInt() ? element.GetInt() : 0;
}

}  // namespace daq::protocol
