// Texts inside host records are UTF-16: either fixed zero-filled fields or references to
// zero-terminated texts owned by whoever filled the record.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace kelvane {

// The longest start of the text that holds at most `units` code units and ends on a whole
// character: a cut that would split a surrogate pair is made before the pair, so the cut text
// never ends in a lone first surrogate.
inline std::u16string_view CutText(std::u16string_view text, std::size_t units) {
    if (text.size() <= units) {
        return text;
    }
    const auto isLead = [](char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; };
    const auto isTrail = [](char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; };
    if (units > 0 && isLead(text[units - 1]) && isTrail(text[units])) {
        --units;
    }
    return text.substr(0, units);
}

// Zero-fills the field and copies the text, cut to the field (CutText); a text that fills the
// field has no terminating zero.
template <std::size_t N>
void StoreText(char16_t (&field)[N], std::u16string_view text) {
    std::fill(field, field + N, u'\0');
    const std::u16string_view kept = CutText(text, N);
    std::copy(kept.begin(), kept.end(), field);
}

// Reads a fixed field that may lack its terminating zero.
template <std::size_t N>
std::u16string_view FieldText(const char16_t (&field)[N]) {
    const auto* end = std::find(field, field + N, u'\0');
    return {field, static_cast<std::size_t>(end - field)};
}

// A text reference; null reads as the empty text.
inline std::u16string_view RefText(const char16_t* text) {
    return text == nullptr ? std::u16string_view{} : std::u16string_view{text};
}

}  // namespace kelvane
