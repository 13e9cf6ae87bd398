#include "common/TextConvert.h"

#include <rapidjson/encodings.h>

namespace daq {

namespace {

constexpr unsigned kReplacement = 0xFFFD;

// Input stream over a text that need not end with a zero, as RapidJSON's codecs read one.
template <typename CharT>
struct ViewStream {
    using Ch = CharT;

    Ch Peek() const { return next < end ? *next : Ch{}; }
    Ch Take() { return next < end ? *next++ : Ch{}; }
    std::size_t Tell() const { return static_cast<std::size_t>(next - begin); }

    const Ch* begin;
    const Ch* next;
    const Ch* end;
};

template <typename String>
struct AppendStream {
    using Ch = typename String::value_type;
    void Put(Ch c) { out.push_back(c); }
    String& out;
};

bool isHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool isLowSurrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

bool isAscii(std::u16string_view text) {
    for (const char16_t c : text) {
        if (c >= 0x80) {
            return false;
        }
    }
    return true;
}

}  // namespace

void appendUtf8(std::u16string_view text, std::string& out) {
    if (isAscii(text)) {
        out.append(text.begin(), text.end());
        return;
    }
    using Utf16 = rapidjson::UTF16<char16_t>;
    ViewStream<char16_t> in{text.data(), text.data(), text.data() + text.size()};
    AppendStream<std::string> sink{out};
    while (in.next < in.end) {
        const char16_t first = *in.next;
        // A high surrogate whose partner is missing would make the decoder swallow the next
        // character; it stands for itself instead.
        if (isHighSurrogate(first) && (in.next + 1 == in.end || !isLowSurrogate(in.next[1]))) {
            ++in.next;
            rapidjson::UTF8<>::Encode(sink, kReplacement);
            continue;
        }
        unsigned codepoint = 0;
        if (!Utf16::Decode(in, &codepoint)) {
            codepoint = kReplacement;
        }
        rapidjson::UTF8<>::Encode(sink, codepoint);
    }
}

std::string toUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    appendUtf8(text, out);
    return out;
}

std::u16string toUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    ViewStream<char> in{text.data(), text.data(), text.data() + text.size()};
    AppendStream<std::u16string> sink{out};
    while (in.next < in.end) {
        const char* start = in.next;
        unsigned codepoint = 0;
        if (!rapidjson::UTF8<>::Decode(in, &codepoint)) {
            // Resume behind the first byte, so one bad byte costs one character.
            in.next = start + 1;
            codepoint = kReplacement;
        }
        rapidjson::UTF16<char16_t>::Encode(sink, codepoint);
    }
    return out;
}

}  // namespace daq
