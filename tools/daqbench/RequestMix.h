// The requests of a run, framed once before the load starts, and the order in which each
// connection sends them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/daqbench/BenchOptions.h"

namespace daqbench {

struct RequestTemplate {
    RequestKind kind = RequestKind::Alive;
    std::vector<std::string> frames;  // sent in turn: DAQLIST has one per page
    int entries = 0;                  // LIST entries of each answer (DAQ_DATA, DAQLIST)
};

// Where one connection stands in the mix.
struct MixCursor {
    std::size_t position = 0;  // in the cycle
    std::size_t page = 0;      // frames of multi-frame templates sent so far
};

struct NextRequest {
    std::uint8_t templateIndex;
    std::string_view frame;
};

class RequestMix {
  public:
    // `tagCount` is the IO map's record count (DAQ_DATA indexes and DAQLIST pages wrap at it);
    // 0 when unknown.
    RequestMix(const BenchOptions& options, std::int32_t tagCount);

    NextRequest next(MixCursor& cursor) const;
    // A cursor that starts connection `connection` at its own place in the cycle, so that the
    // kinds of a mix are spread over the connections at any moment.
    MixCursor startFor(std::size_t connection) const { return {connection % cycle_.size(), 0}; }

    const RequestTemplate& at(std::size_t templateIndex) const { return templates_[templateIndex]; }
    std::size_t size() const { return templates_.size(); }
    // The LOGIN of --login-first.
    const std::string& loginFrame() const { return loginFrame_; }
    // "ALIVE", "DAQ_DATA(k=100)", "ALIVE:1+DAQ_DATA(k=10):3", ...
    const std::string& description() const { return description_; }

  private:
    std::vector<RequestTemplate> templates_;
    std::vector<std::uint8_t> cycle_;  // template indexes, each as often as its weight
    std::string loginFrame_;
    std::string description_;
};

// Whether an answer text is what a request of this template gets: a JSON object with the
// members its kind always has and, for the lists, as many entries as asked for.
// `loginMustPass`: a LOGIN answer must say "RESULT": true.
bool answerMatches(const RequestTemplate& request, std::string_view text, bool loginMustPass);

}  // namespace daqbench
