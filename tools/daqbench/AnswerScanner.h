// Finds where the server's answer frames end in the bytes of one connection (STX, text, ETX,
// zero byte) without copying them: the load loop only needs to know that an answer is whole,
// and the text only when it checks one.
#pragma once

#include <cstddef>
#include <string_view>

namespace daqbench {

struct ScanStep {
    std::size_t consumed = 0;  // bytes of the chunk taken by this step
    std::string_view text;     // the part of the answer's text among them
    bool answerEnded = false;  // the answer's last byte was among them
};

class AnswerScanner {
  public:
    // Call again with the rest of the chunk until it is consumed: each call stops behind the
    // end of an answer. Bytes outside frames are skipped.
    ScanStep feed(std::string_view chunk);

  private:
    enum class State { Outside, InText, AfterEtx };
    State state_ = State::Outside;
};

}  // namespace daqbench
