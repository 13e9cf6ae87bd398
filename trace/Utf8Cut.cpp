#include "trace/Utf8Cut.h"

namespace daq {

namespace {

bool isContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// Bytes of the character that `lead` begins; 1 for a byte that begins none (kept as it is).
std::size_t sequenceLength(unsigned char lead) {
    if (lead >= 0xF0 && lead < 0xF8) {
        return 4;
    }
    if (lead >= 0xE0 && lead < 0xF0) {
        return 3;
    }
    if (lead >= 0xC0 && lead < 0xE0) {
        return 2;
    }
    return 1;
}

}  // namespace

std::size_t utf8CompleteLength(std::string_view text) {
    // A character has at most three continuation bytes after its lead byte.
    std::size_t lead = text.size();
    for (std::size_t back = 0; back < 4 && lead > 0; ++back) {
        --lead;
        if (!isContinuation(static_cast<unsigned char>(text[lead]))) {
            const std::size_t needed = sequenceLength(static_cast<unsigned char>(text[lead]));
            return lead + needed > text.size() ? lead : text.size();
        }
    }
    return text.size();
}

std::size_t utf8PrefixBytes(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) {
        return text.size();
    }
    return utf8CompleteLength(text.substr(0, maxBytes));
}

std::size_t utf8PrefixUtf16Units(std::string_view text, std::size_t maxUnits) {
    std::size_t bytes = 0;
    std::size_t units = 0;
    while (bytes < text.size()) {
        const std::size_t length = sequenceLength(static_cast<unsigned char>(text[bytes]));
        // Four-byte characters lie outside the basic plane: a surrogate pair in UTF-16.
        const std::size_t characterUnits = length == 4 ? 2 : 1;
        if (bytes + length > text.size() || units + characterUnits > maxUnits) {
            break;
        }
        bytes += length;
        units += characterUnits;
    }
    return bytes;
}

}  // namespace daq
