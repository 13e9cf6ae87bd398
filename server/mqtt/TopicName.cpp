#include "server/mqtt/TopicName.h"

#include <unordered_set>

namespace daq::mqtt {

namespace {

bool escaped(char32_t c) {
    return c == U'%' || c == U'+' || c == U'#' || c == U'/' || c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

// Appends the UTF-8 bytes of `c` (a surrogate too: its three-byte form), each escaped when
// `escape` says.
void appendCodePoint(char32_t c, bool escape, std::string& out) {
    char bytes[4];
    int size = 0;
    if (c < 0x80) {
        bytes[size++] = static_cast<char>(c);
    } else if (c < 0x800) {
        bytes[size++] = static_cast<char>(0xC0 | (c >> 6));
        bytes[size++] = static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        bytes[size++] = static_cast<char>(0xE0 | (c >> 12));
        bytes[size++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        bytes[size++] = static_cast<char>(0x80 | (c & 0x3F));
    } else {
        bytes[size++] = static_cast<char>(0xF0 | (c >> 18));
        bytes[size++] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        bytes[size++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        bytes[size++] = static_cast<char>(0x80 | (c & 0x3F));
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (int i = 0; i < size; ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (escape) {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
        } else {
            out += bytes[i];
        }
    }
}

bool isHigh(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}

bool isLow(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

}  // namespace

std::string escapeTopicLevel(std::u16string_view name) {
    std::string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char16_t unit = name[i];
        if (isHigh(unit) && i + 1 < name.size() && isLow(name[i + 1])) {
            const char32_t c = 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (name[i + 1] - 0xDC00);
            appendCodePoint(c, false, out);
            ++i;
        } else {
            const bool unpaired = isHigh(unit) || isLow(unit);
            appendCodePoint(unit, unpaired || escaped(unit), out);
        }
    }
    return out;
}

std::vector<std::string> tagTopicLevels(const std::vector<std::u16string_view>& names) {
    std::vector<std::string> levels;
    levels.reserve(names.size());
    std::unordered_set<std::string> taken;
    taken.reserve(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        std::string level = escapeTopicLevel(names[i]);
        if (!taken.insert(level).second) {
            level += "%~" + std::to_string(i);
            taken.insert(level);
        }
        levels.push_back(std::move(level));
    }
    return levels;
}

}  // namespace daq::mqtt
