// Parsing a received message and reading its values by path.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include <rapidjson/document.h>

namespace daq::protocol {

// Deepest nesting of objects and arrays a message may have; requests need three levels.
inline constexpr std::size_t kDefaultMaxJsonDepth = 64;

struct JsonParseOptions {
    // Keep every number as the text of its literal (requests read numbers as text, digit for
    // digit; the text is not followed by a zero, so it is read with its length); false keeps
    // numbers as numbers (what a client wants of an answer).
    bool numbersAsText = true;
    std::size_t maxDepth = kDefaultMaxJsonDepth;
};

struct JsonParseError {
    std::string message;
    std::size_t offset = 0;  // byte offset in the text where parsing stopped
};

// Parses one message without throwing. Gives no document when the text is not one well-formed
// JSON value, holds malformed UTF-8 inside a string, or nests deeper than allowed; `error`, if
// given, then says why. The text ends at its first zero byte, as a message does on the wire;
// a byte order mark is refused. Parsing is iterative, so the call stack does not grow with the
// nesting.
std::optional<rapidjson::Document> parseJsonMessage(std::string_view text,
                                                    const JsonParseOptions& options = {},
                                                    JsonParseError* error = nullptr);

// The value at a path of member names separated by dots ("DEVICE.OS" is the member "OS" of the
// object in the member "DEVICE"); null when a name is missing or a step is not an object. With
// duplicated names the first member counts.
const rapidjson::Value* findJsonPath(const rapidjson::Value& root, std::string_view path);

// A value as text: a string gives its characters, a number its literal, true, false and null
// their literal words. An object or an array is an error (std::runtime_error).
std::string jsonValueText(const rapidjson::Value& value);

// The text at `path`, or `fallback` when the path is absent or the request did not parse.
// Throws std::runtime_error when the path ends on an object or an array.
std::string getJsonString(const rapidjson::Value& root, std::string_view path,
                          std::string_view fallback = {});
std::string getJsonString(const std::optional<rapidjson::Document>& request, std::string_view path,
                          std::string_view fallback = {});

}  // namespace daq::protocol
