#include "server/protocol/FrameReader.h"

#include <algorithm>

#include "server/protocol/Frame.h"

namespace daq::protocol {

namespace {

bool isFrameControl(char c) {
    return c == kStx || c == kEtx || c == kMessageEnd;
}

std::size_t findFrameControl(std::string_view chunk, std::size_t from) {
    auto it = std::find_if(chunk.begin() + static_cast<std::ptrdiff_t>(from), chunk.end(),
                           isFrameControl);
    return static_cast<std::size_t>(it - chunk.begin());
}

// Zero bytes trail every frame the server sends and a client may mirror them; many clients end
// each frame with a line end. Neither starts anything that could still be completed.
bool isFrameSeparator(char c) {
    return c == kMessageEnd || c == '\r' || c == '\n' || c == ' ' || c == '\t';
}

bool holdsStrayInput(std::string_view bytes) {
    return !std::all_of(bytes.begin(), bytes.end(), isFrameSeparator);
}

std::size_t findStxOrEtx(std::string_view chunk, std::size_t from) {
    auto it = std::find_if(chunk.begin() + static_cast<std::ptrdiff_t>(from), chunk.end(),
                           [](char c) { return c == kStx || c == kEtx; });
    return static_cast<std::size_t>(it - chunk.begin());
}

}  // namespace

FrameReader::FrameReader(std::size_t maxMessageBytes) : maxMessageBytes_(maxMessageBytes) {}

void FrameReader::startFrame() {
    state_ = State::InMessage;
    message_.clear();
}

bool FrameReader::store(std::string_view bytes) {
    const std::size_t needed = message_.size() + bytes.size();
    if (needed > maxMessageBytes_) {
        return false;
    }
    if (needed > message_.capacity()) {
        // Grow geometrically, but never past the bound.
        message_.reserve(std::min(maxMessageBytes_, std::max(needed, 2 * message_.capacity())));
    }
    message_.insert(message_.end(), bytes.begin(), bytes.end());
    return true;
}

void FrameReader::releaseMemory(std::size_t keep) {
    if (state_ == State::Outside && message_.capacity() > keep) {
        std::vector<char>().swap(message_);
    }
}

FrameStep FrameReader::feed(std::string_view chunk) {
    std::size_t pos = 0;
    while (pos < chunk.size()) {
        switch (state_) {
            case State::Outside: {
                const std::size_t stx = chunk.find(kStx, pos);
                strayInput_ = strayInput_ || holdsStrayInput(chunk.substr(pos, stx - pos));
                if (stx == std::string_view::npos) {
                    return {FrameStatus::NeedMore, chunk.size()};
                }
                startFrame();
                pos = stx + 1;
                break;
            }
            case State::InMessage: {
                const std::size_t control = findFrameControl(chunk, pos);
                if (!store(chunk.substr(pos, control - pos))) {
                    state_ = State::Outside;
                    strayInput_ = true;  // the frame was not completed
                    message_.clear();
                    return {FrameStatus::DroppedOversize, control};
                }
                if (control == chunk.size()) {
                    return {FrameStatus::NeedMore, chunk.size()};
                }
                pos = control + 1;
                if (chunk[control] == kStx) {
                    startFrame();
                } else if (chunk[control] == kEtx) {
                    state_ = State::Outside;
                    strayInput_ = false;
                    return {FrameStatus::Good, pos};
                } else {
                    state_ = State::AfterZero;
                }
                break;
            }
            case State::AfterZero: {
                const std::size_t control = findStxOrEtx(chunk, pos);
                if (control == chunk.size()) {
                    return {FrameStatus::NeedMore, chunk.size()};
                }
                pos = control + 1;
                if (chunk[control] == kStx) {
                    startFrame();
                } else {
                    state_ = State::Outside;
                    strayInput_ = false;
                    return {FrameStatus::Good, pos};
                }
                break;
            }
        }
    }
    return {FrameStatus::NeedMore, pos};
}

}  // namespace daq::protocol
