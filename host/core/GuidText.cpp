#include "host/core/GuidText.h"

#include <charconv>
#include <cstdio>
#include <cstring>

namespace host {

namespace {

// Reads exactly `digits` hexadecimal digits at text[at].
template <typename Int>
bool hex(std::string_view text, std::size_t at, std::size_t digits, Int& value) {
    if (at + digits > text.size()) {
        return false;
    }
    const char* first = text.data() + at;
    const auto [end, error] = std::from_chars(first, first + digits, value, 16);
    return error == std::errc() && end == first + digits;
}

}  // namespace

std::optional<kelvane::TGuid> parseGuid(std::string_view text) {
    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
    if (text.size() != 38 || text[0] != '{' || text[9] != '-' || text[14] != '-' ||
        text[19] != '-' || text[24] != '-' || text[37] != '}') {
        return std::nullopt;
    }
    kelvane::TGuid guid{};
    bool good =
        hex(text, 1, 8, guid.Data1) && hex(text, 10, 4, guid.Data2) && hex(text, 15, 4, guid.Data3);
    static constexpr std::size_t kByteAt[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (std::size_t i = 0; i < 8 && good; ++i) {
        good = hex(text, kByteAt[i], 2, guid.Data4[i]);
    }
    if (!good) {
        return std::nullopt;
    }
    return guid;
}

std::string formatGuid(const kelvane::TGuid& guid) {
    char text[39];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  guid.Data1, guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2],
                  guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

bool sameGuid(const kelvane::TGuid& a, const kelvane::TGuid& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace host
