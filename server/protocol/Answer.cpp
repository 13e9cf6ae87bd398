#include "server/protocol/Answer.h"

#include <cstring>

#include "common/TextConvert.h"
#include "server/protocol/Frame.h"

namespace daq::protocol {

Answer::Answer() : writer_(buffer_) {}

Answer::JsonWriter& Answer::begin() {
    buffer_.Clear();
    buffer_.Put(kStx);
    writer_.Reset(buffer_);
    framed_ = false;
    return writer_;
}

void Answer::releaseMemory(std::size_t keep) {
    if (buffer_.stack_.GetCapacity() > keep) {
        // Through the buffer's stack: an empty stack frees its memory, while the buffer's own
        // ShrinkToFit keeps a byte.
        buffer_.stack_.Clear();
        buffer_.stack_.ShrinkToFit();
        framed_ = false;
    }
    if (utf8_.capacity() > keep) {
        std::string().swap(utf8_);
    }
}

void Answer::string(std::u16string_view text) {
    utf8_.clear();
    appendUtf8(text, utf8_);
    writer_.String(utf8_.data(), static_cast<rapidjson::SizeType>(utf8_.size()));
}

void Answer::member(std::string_view key, std::u16string_view text) {
    writer_.Key(key.data(), static_cast<rapidjson::SizeType>(key.size()));
    string(text);
}

void Answer::beginRawArray() {
    writer_.StartArray();
    rawElements_ = false;
}

void Answer::rawElement(std::string_view json) {
    // The writer sees an empty array; the separators are put here.
    if (rawElements_) {
        buffer_.Put(',');
    }
    rawElements_ = true;
    std::memcpy(buffer_.Push(json.size()), json.data(), json.size());
}

void Answer::endRawArray() {
    writer_.EndArray();
}

std::string_view Answer::text() const {
    const std::size_t size = buffer_.GetSize();
    if (size == 0) {
        return {};
    }
    // Behind the STX, before the ETX and zero once framed.
    return {buffer_.GetString() + 1, size - 1 - (framed_ ? 2 : 0)};
}

std::string_view Answer::frame() {
    if (!framed_) {
        buffer_.Put(kEtx);
        buffer_.Put(kMessageEnd);
        framed_ = true;
    }
    return {buffer_.GetString(), buffer_.GetSize()};
}

}  // namespace daq::protocol
