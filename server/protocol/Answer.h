// The answer to one request, written with RapidJSON's Writer straight into a buffer that is
// reused for every answer of a connection, and framed in place for sending.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace daq::protocol {

class Answer {
  public:
    using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

    Answer();
    Answer(const Answer&) = delete;
    Answer& operator=(const Answer&) = delete;

    // Forgets the previous answer (keeping the memory) and returns the writer of the new one.
    JsonWriter& begin();
    JsonWriter& writer() { return writer_; }

    // Writes a key given as a string literal.
    template <std::size_t N>
    void key(const char (&name)[N]) {
        writer_.Key(name, N - 1);
    }
    // Writes a UTF-8 text as a JSON string.
    void string(std::string_view text) {
        writer_.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
    }
    // Writes a UTF-16 text as a JSON string, converted to UTF-8 on the way.
    void string(std::u16string_view text);
    // Writes a key, then a UTF-16 text as its value.
    void member(std::string_view key, std::u16string_view text);

    // An array whose elements are JSON texts made by a Writer elsewhere (pre-rendered parts of
    // an answer), each copied in one piece. Between beginRawArray and endRawArray only
    // rawElement writes.
    void beginRawArray();
    void rawElement(std::string_view json);
    void endRawArray();

    // The JSON text written since begin().
    std::string_view text() const;
    // Bytes written since begin(), the STX included.
    std::size_t size() const { return buffer_.GetSize(); }
    // Gives back the buffer when it holds more than `keep` bytes; the next begin() starts
    // afresh.
    void releaseMemory(std::size_t keep);
    // Ends the answer: STX, the JSON text, ETX, 0x00, ready to be queued on the connection.
    std::string_view frame();

  private:
    rapidjson::StringBuffer buffer_;
    JsonWriter writer_;
    std::string utf8_;  // reused for every UTF-16 text
    bool framed_ = false;
    bool rawElements_ = false;  // the raw array has an element already
};

}  // namespace daq::protocol
