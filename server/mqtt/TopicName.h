// Topic levels of tag and project names. A name is UTF-16 from the host; MQTT forbids some
// characters in a topic level and gives others a meaning, so they are escaped by one rule:
//
//   every byte of `%`, `+`, `#`, `/`, and of the control characters U+0000..U+001F and
//   U+007F..U+009F, is written `%XX` (two upper-case hex digits); an unpaired surrogate is
//   written as the escaped bytes of its three-byte form (`%ED%A0%80`). Everything else stays
//   as its UTF-8.
//
// `%` escapes itself, so the escaped text decodes back to one name: two names never share a
// topic level. Tags that have the same name get `%~<index>` appended from the second one on (no
// escaped name holds `%~`).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace daq::mqtt {

// The escaped topic level of `name`.
std::string escapeTopicLevel(std::u16string_view name);

// The topic levels of the tags, in map order: escaped names made unique as above.
std::vector<std::string> tagTopicLevels(const std::vector<std::u16string_view>& names);

}  // namespace daq::mqtt
