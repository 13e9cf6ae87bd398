// Byte layout of one protocol frame: STX, a UTF-8 JSON text, ETX and, in every frame the
// server sends, one trailing zero byte. The text itself carries no 0x02, 0x03 or 0x00: the
// JSON writer escapes control characters.
#pragma once

#include <string>
#include <string_view>

namespace daq::protocol {

inline constexpr char kStx = 0x02;
inline constexpr char kEtx = 0x03;
// Ends a received message early; trails every frame the server sends.
inline constexpr char kMessageEnd = 0x00;
// Written unframed to every logged-in client just before the server stops and closes it.
inline constexpr std::string_view kStopNotice = R"({"PS_ID":true})";

enum class FrameTrailer {
    None,  // STX text ETX: what clients send
    Zero,  // STX text ETX 0x00: what the server sends
};

// Replaces the content of `out` with one frame around `text`. An empty text still gives a
// frame (0x02 0x03 0x00). `out` keeps its capacity, so a buffer reused for every response of
// a connection stops allocating once it has grown to the largest response.
void buildFrame(std::string_view text, std::string& out, FrameTrailer trailer = FrameTrailer::Zero);

}  // namespace daq::protocol
