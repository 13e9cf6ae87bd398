// Integer members of requests: read as text (a JSON string or a number's literal) and
// converted. Only a decimal integer within 32 bits is one; any other text names no index, so
// that a value a client got wrong never reads as record 0.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include <rapidjson/document.h>

namespace daq::protocol {

// An optional sign followed by decimal digits, within the 32-bit range, and nothing else:
// "13.0", " 13", "1e3", "" and 4294967309 are none.
std::optional<int32_t> toInteger(std::string_view text);

// A value as such an integer: a string or a number literal converts, true, false and null are
// none; an object or an array is an error (std::runtime_error).
std::optional<int32_t> integerValue(const rapidjson::Value& value);

// The member at `path` as such an integer; `absent` when the request has no such member.
std::optional<int32_t> readInteger(const rapidjson::Value& request, std::string_view path,
                                   std::optional<int32_t> absent = 0);

// "START_INDEX" and "LIST_SIZE" of a page request; absent members and a size that is no
// integer count as 0. A start that is no integer names no record: the page is then empty, as
// one that starts past the end, and a level-2 trace of `operation` says so.
struct Page {
    int32_t start = 0;
    int32_t size = 0;
};
Page readPage(const rapidjson::Value& request, const char* operation);

}  // namespace daq::protocol
