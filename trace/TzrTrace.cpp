#include "trace/TzrTrace.h"

#include "trace/Utf8Cut.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace daq {

namespace {

// A UTF-16 code unit never takes more than three bytes of UTF-8.
constexpr std::size_t kFormatBufferBytes = TzrTrace::kLineLimit * 3 + 1;

std::string_view orEmpty(const char* text) {
    return text == nullptr ? std::string_view() : text;
}

}  // namespace

TzrTrace& TzrTrace::instance(Target target) {
    static TzrTrace notifier(target);
    return notifier;
}

TzrTrace::TzrTrace(Target target) : target_(target) {}

void TzrTrace::send(int code, const char* text1, const char* text2) {
    std::string line = std::to_string(code);
    line += '|';
    line += orEmpty(text1);
    line += '|';
    line += orEmpty(text2);
    line += '|';
    line.resize(utf8PrefixUtf16Units(line, kLineLimit));
    if (target_ != nullptr) {
        target_(line);
    }
    const std::lock_guard lock(mutex_);
    lastLine_ = std::move(line);
}

void TzrTrace::sendFormatted(int code, const char* text1, const char* format, ...) {
    char text[kFormatBufferBytes];
    va_list arguments;
    va_start(arguments, format);
    const int formatted = std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    if (formatted < 0) {
        return;
    }
    const std::string_view whole(text,
                                 std::min(static_cast<std::size_t>(formatted), sizeof text - 1));
    text[utf8PrefixUtf16Units(whole, kLineLimit)] = 0;
    send(code, text1, text);
}

std::string TzrTrace::lastLine() const {
    const std::lock_guard lock(mutex_);
    return lastLine_;
}

}  // namespace daq
