// Integer members of requests: read as text (a JSON string or a number's literal) and
// converted; a text that is not a decimal integer within 32 bits counts as 0.
#pragma once

#include <cstdint>
#include <string_view>

#include <rapidjson/document.h>

namespace daq::protocol {

// An optional sign followed by decimal digits, within the 32-bit range; anything else is 0.
int32_t toInteger(std::string_view text);

// The member at `path` as an integer; `fallback` when absent.
int32_t readInteger(const rapidjson::Value& request, std::string_view path, int32_t fallback = 0);

// An element of an array of integers: a string or a number literal converts, true, false and
// null count as 0; an object or an array is an error (std::runtime_error).
int32_t elementInteger(const rapidjson::Value& element);

}  // namespace daq::protocol
