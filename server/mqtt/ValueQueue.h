// The hand-over from the refresh pass to the publisher: one slot per tag holding its latest
// value, and the list of tags waiting to be published. A tag's newer value replaces the one
// waiting (coalescing), so the queue never holds more than one value per tag, and at most
// `maxQueued` tags wait: a changed tag that finds the list full is dropped and counted.
//
// Analog values (numbers that are not a named value) within `deadband` of the tag's last
// accepted value are not taken. A tag is handed to the publisher at most once per
// `minInterval`; a value arriving sooner waits (and is replaced by newer ones) until then.
// Time comes from the caller, so the rules can be tried without waiting.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "kelvane/IORecords.h"

namespace daq::mqtt {

using Clock = std::chrono::steady_clock;

struct TagValue {
    double time = 0;    // the host's date-time of the value
    double number = 0;  // the value; for a text value unused
    bool isText = false;
    bool analog = false;  // a measured number: the deadband applies
    std::string text;     // the value text as "DAQ_DATA" gives it (renderText)
    // What the text is rendered from, on the publisher's thread: the value block, and the
    // record's parts that stay as they are during a DAQ run (signal and data type, value list).
    kelvane::TCurrentValue raw{};
    const kelvane::TIOList* record = nullptr;
};

struct QueueLimits {
    std::size_t maxQueued = 100000;
    std::chrono::milliseconds minInterval{0};
    double deadband = 0;
};

class ValueQueue {
  public:
    struct Taken {
        int32_t tag;
        TagValue value;
    };

    ValueQueue(std::size_t tags, QueueLimits limits);

    // Refresh thread: the tag's new value (ignored for a tag outside the table).
    void offer(int32_t tag, const TagValue& value);
    // Publisher: moves up to `max` waiting values that are due into `out`; returns when the
    // next waiting value falls due (Clock::time_point::max() when none waits).
    Clock::time_point take(Clock::time_point now, std::size_t max, std::vector<Taken>& out);
    // Values dropped since the last call.
    uint64_t takeDropped();
    // The latest value of every tag that has had one (for the stale values at the end).
    std::vector<Taken> latest() const;
    std::size_t waiting() const;

  private:
    struct Slot {
        TagValue value;
        bool hasValue = false;
        bool waiting = false;
        Clock::time_point lastTaken = Clock::time_point::min();
    };

    const QueueLimits limits_;
    mutable std::mutex mutex_;
    std::vector<Slot> slots_;     // under mutex_
    std::vector<int32_t> queue_;  // waiting tags, oldest first; under mutex_
    uint64_t dropped_ = 0;        // under mutex_
};

}  // namespace daq::mqtt
