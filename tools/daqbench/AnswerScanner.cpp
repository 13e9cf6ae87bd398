#include "tools/daqbench/AnswerScanner.h"

#include <cstring>

#include "server/protocol/Frame.h"

namespace daqbench {

using daq::protocol::kEtx;
using daq::protocol::kMessageEnd;
using daq::protocol::kStx;

ScanStep AnswerScanner::feed(std::string_view chunk) {
    ScanStep step;
    while (step.consumed < chunk.size()) {
        const char* at = chunk.data() + step.consumed;
        const std::size_t left = chunk.size() - step.consumed;
        switch (state_) {
            case State::Outside: {
                const void* stx = std::memchr(at, kStx, left);
                if (stx == nullptr) {
                    step.consumed = chunk.size();
                    return step;
                }
                step.consumed += static_cast<std::size_t>(static_cast<const char*>(stx) - at) + 1;
                state_ = State::InText;
                break;
            }
            case State::InText: {
                const void* etx = std::memchr(at, kEtx, left);
                const std::size_t length =
                    etx == nullptr ? left
                                   : static_cast<std::size_t>(static_cast<const char*>(etx) - at);
                step.text = std::string_view(at, length);
                step.consumed += length;
                if (etx != nullptr) {
                    ++step.consumed;
                    state_ = State::AfterEtx;
                }
                break;
            }
            case State::AfterEtx:
                // Every server frame has its zero byte; a frame without one still ends here.
                if (*at == kMessageEnd) {
                    ++step.consumed;
                }
                state_ = State::Outside;
                step.answerEnded = true;
                return step;
        }
    }
    return step;
}

}  // namespace daqbench
