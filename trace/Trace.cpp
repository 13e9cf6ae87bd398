#include "trace/Trace.h"

#include "trace/TraceSender.h"
#include "trace/TraceTransport.h"
#include "trace/Utf8Cut.h"

#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

namespace daq {

namespace {

struct PendingLocation {
    int line = 0;  // greater than 0: a location is pending
    char function[kTraceNameLimit + 1] = {};
    char file[kTraceNameLimit + 1] = {};
};

thread_local PendingLocation pending;

// The fixed parts, a 32-bit identifier in hex, two 32-bit numbers and two names.
constexpr std::size_t kSuffixCapacity = 64 + 2 * kTraceNameLimit;
// So the case of a suffix too long for any message cannot arise.
static_assert(kSuffixCapacity < kTraceMessageLimit);

void storeName(char (&field)[kTraceNameLimit + 1], const char* name) {
    const std::string_view text = name == nullptr ? std::string_view() : name;
    const std::size_t length = utf8PrefixBytes(text, kTraceNameLimit);
    std::memcpy(field, text.data(), length);
    field[length] = 0;
}

// This thread's message buffer, allocated at its first message and reused; only the bytes
// written for a message are sent, so it is never cleared.
char* messageBuffer() {
    thread_local const std::unique_ptr<char[]> buffer =
        std::make_unique_for_overwrite<char[]>(kTraceMessageLimit + 1);
    return buffer.get();
}

// The process id, read once: a system call is not cheap next to the rest of a message.
unsigned senderId() {
    static const auto id = static_cast<unsigned>(getpid());
    return id;
}

// Appends the pending location to the text of `length` bytes; returns the message's length.
std::size_t appendLocation(char* message, std::size_t length, int level) {
    char suffix[kSuffixCapacity];
    const int written =
        std::snprintf(suffix, sizeof suffix, "|14|Kelvane %x|0|%d|-1|%d|%s|%s", senderId(), level,
                      pending.line, pending.function, pending.file);
    const auto suffixLength = static_cast<std::size_t>(written);
    // When both do not fit, the suffix overwrites the end of the text.
    const std::size_t textLength =
        length + suffixLength <= kTraceMessageLimit
            ? length
            : utf8CompleteLength({message, kTraceMessageLimit - suffixLength});
    std::memcpy(message + textLength, suffix, suffixLength + 1);
    return textLength + suffixLength;
}

void sendMessage(int level, const char* format, va_list arguments) {
    // Nobody would read it: skip the formatting.
    if (!viewerMayListen()) {
        pending.line = 0;
        return;
    }
    char* message = messageBuffer();
    const int formatted = std::vsnprintf(message, kTraceMessageLimit + 1, format, arguments);
    if (formatted < 0) {
        return;
    }
    std::size_t length = static_cast<std::size_t>(formatted);
    if (length > kTraceMessageLimit) {
        length = utf8CompleteLength({message, kTraceMessageLimit});
        message[length] = 0;
    }
    if (pending.line > 0) {
        length = appendLocation(message, length, level);
    }
    postToViewer(message, length + 1);
    pending.line = 0;
}

}  // namespace

void setTraceLocation(int line, const char* function, const char* file) {
    pending.line = line;
    storeName(pending.function, function);
    storeName(pending.file, file);
}

void trace(int level, const char* format, ...) {
    const int savedErrno = errno;
    va_list arguments;
    va_start(arguments, format);
    sendMessage(level, format, arguments);
    va_end(arguments);
    errno = savedErrno;
}

}  // namespace daq
