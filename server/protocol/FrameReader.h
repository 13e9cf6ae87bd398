// Incremental reassembly of the frames that arrive on one connection.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace daq::protocol {

// Largest message (the bytes between STX and ETX) a connection may send.
inline constexpr std::size_t kDefaultMaxMessageBytes = 1024 * 1024;

enum class FrameStatus {
    NeedMore,         // every byte given was taken; the frame (if one started) goes on later
    Good,             // a frame ended; message() holds its text
    DroppedOversize,  // a frame outgrew the bound and was dropped up to the next STX
};

struct FrameStep {
    FrameStatus status;
    std::size_t consumed;  // bytes of the chunk taken by this step
};

// One reader per connection. Feed it every chunk that arrives, in order, and call feed() again
// with the rest of the chunk until the whole chunk is consumed: each call stops behind the
// first frame that ends or is dropped, so every frame of a chunk is delivered, in order.
//
//     for (auto rest = chunk; !rest.empty();) {
//         auto step = reader.feed(rest);
//         rest.remove_prefix(step.consumed);
//         if (step.status == FrameStatus::Good) handle(reader.message());
//     }
//
// Rules: bytes outside STX ... ETX belong to no message and are skipped; an STX inside an
// unfinished frame starts the frame afresh; a message ends at its first zero byte (the bytes
// after it up to ETX are skipped, not stored); a message longer than the bound is dropped
// before it is stored, so the reader never holds more than the bound.
class FrameReader {
  public:
    explicit FrameReader(std::size_t maxMessageBytes = kDefaultMaxMessageBytes);

    FrameStep feed(std::string_view chunk);

    // The text of the frame that the last feed() reported Good; valid until the next feed().
    std::string_view message() const { return {message_.data(), message_.size()}; }

    std::size_t maxMessageBytes() const { return maxMessageBytes_; }

    // True while the bytes fed since the last delivered frame complete nothing: a frame has
    // started without its ETX yet, or bytes arrived outside any frame (a dropped frame's rest,
    // another protocol's request). Zero bytes and white space (CR, LF, space, tab) between
    // frames do not count: zero bytes trail every frame the server sends, and clients mirror
    // that or end each frame with a line end.
    bool inputPending() const { return state_ != State::Outside || strayInput_; }

    // Between frames: gives back the message buffer when it holds more than `keep` bytes.
    void releaseMemory(std::size_t keep);

  private:
    enum class State {
        Outside,    // looking for STX
        InMessage,  // storing message bytes
        AfterZero,  // message ended at a zero byte; looking for ETX
    };

    void startFrame();
    bool store(std::string_view bytes);

    std::size_t maxMessageBytes_;
    State state_ = State::Outside;
    std::vector<char> message_;
    bool strayInput_ = false;  // bytes outside frames since the last delivered frame
};

}  // namespace daq::protocol
