// Texts inside host records are UTF-16: either fixed zero-filled fields or references to
// zero-terminated texts owned by whoever filled the record.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace kelvane {

// Zero-fills the field and copies the text, cut to the field; a text that fills the field
// has no terminating zero.
template <std::size_t N>
void StoreText(char16_t (&field)[N], std::u16string_view text) {
    std::fill(field, field + N, u'\0');
    std::copy_n(text.data(), std::min(text.size(), N), field);
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
