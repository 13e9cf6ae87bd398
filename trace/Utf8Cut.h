// Cutting UTF-8 texts to a limit without splitting a character.
#pragma once

#include <cstddef>
#include <string_view>

namespace daq {

// Length of `text` without an incomplete character at its end (a cut that fell inside one).
std::size_t utf8CompleteLength(std::string_view text);

// Longest prefix of `text`, in bytes, that fits in `maxBytes` and ends on a character boundary.
std::size_t utf8PrefixBytes(std::string_view text, std::size_t maxBytes);

// Longest prefix of `text`, in bytes, whose UTF-16 form fits in `maxUnits` code units.
std::size_t utf8PrefixUtf16Units(std::string_view text, std::size_t maxUnits);

}  // namespace daq
