#include "server/mqtt/ValueQueue.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace daq::mqtt {

ValueQueue::ValueQueue(std::size_t tags, QueueLimits limits) : limits_(limits), slots_(tags) {
    queue_.reserve(std::min(tags, limits_.maxQueued));
}

void ValueQueue::offer(int32_t tag, const TagValue& value) {
    std::lock_guard lock(mutex_);
    if (tag < 0 || static_cast<std::size_t>(tag) >= slots_.size()) {
        return;
    }
    Slot& slot = slots_[static_cast<std::size_t>(tag)];
    if (value.analog && slot.hasValue && slot.value.analog &&
        std::fabs(value.number - slot.value.number) < limits_.deadband) {
        return;
    }
    if (!slot.waiting) {
        if (queue_.size() >= limits_.maxQueued) {
            ++dropped_;
            return;
        }
        slot.waiting = true;
        queue_.push_back(tag);
    }
    slot.value = value;
    slot.hasValue = true;
}

Clock::time_point ValueQueue::take(Clock::time_point now, std::size_t max,
                                   std::vector<Taken>& out) {
    std::lock_guard lock(mutex_);
    Clock::time_point next = Clock::time_point::max();
    std::size_t kept = 0;
    for (const int32_t tag : queue_) {
        Slot& slot = slots_[static_cast<std::size_t>(tag)];
        const bool due = slot.lastTaken == Clock::time_point::min() ||
                         slot.lastTaken + limits_.minInterval <= now;
        if (due && max > 0) {
            out.push_back({tag, slot.value});
            slot.waiting = false;
            slot.lastTaken = now;
            --max;
        } else {
            next = std::min(next, due ? now : slot.lastTaken + limits_.minInterval);
            queue_[kept++] = tag;
        }
    }
    queue_.resize(kept);
    return next;
}

uint64_t ValueQueue::takeDropped() {
    std::lock_guard lock(mutex_);
    return std::exchange(dropped_, 0);
}

std::vector<ValueQueue::Taken> ValueQueue::latest() const {
    std::lock_guard lock(mutex_);
    std::vector<Taken> values;
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        if (slots_[i].hasValue) {
            values.push_back({static_cast<int32_t>(i), slots_[i].value});
        }
    }
    return values;
}

std::size_t ValueQueue::waiting() const {
    std::lock_guard lock(mutex_);
    return queue_.size();
}

}  // namespace daq::mqtt
