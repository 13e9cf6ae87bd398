// The refresh pass's changed values on their way to the publisher's thread. The refresh thread
// appends each changed value block to its own list without a lock and hands the list over once
// per pass; the publisher's thread takes what was handed over and sorts it into its ValueQueue.
// So a changed value costs the refresh pass one copy of its block, never a wait.
//
// At most `maxValues` values wait here (the queue's MaxQueuedValues): when the publisher's
// thread falls that far behind, further values are dropped and counted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "kelvane/IORecords.h"

namespace daq::mqtt {

struct OfferedValue {
    int32_t tag;
    const kelvane::TIOList* record;  // outlives the publisher; only its value block changes
    kelvane::TCurrentValue value;
};

class ValueHandover {
  public:
    explicit ValueHandover(std::size_t maxValues) : maxValues_(maxValues) {}

    // Refresh thread.
    void offer(int32_t tag, const kelvane::TIOList& record, const kelvane::TCurrentValue& value);
    // Refresh thread: hands the pass's values over; true when there were any.
    bool passDone();

    // Publisher's thread: the values handed over since the last call, oldest first; `out` is
    // replaced (its memory is kept for the refresh thread's next passes).
    void take(std::vector<OfferedValue>& out);
    // Values dropped since the last call.
    uint64_t takeDropped();

  private:
    const std::size_t maxValues_;
    std::vector<OfferedValue> pass_;  // the refresh thread's
    uint64_t passDropped_ = 0;        // the refresh thread's

    std::mutex mutex_;
    std::vector<OfferedValue> handed_;  // under mutex_
    uint64_t dropped_ = 0;              // under mutex_
};

}  // namespace daq::mqtt
