#include "server/mqtt/ValueHandover.h"

#include <utility>

namespace daq::mqtt {

void ValueHandover::offer(int32_t tag, const kelvane::TIOList& record,
                          const kelvane::TCurrentValue& value) {
    if (pass_.size() >= maxValues_) {
        ++passDropped_;
        return;
    }
    pass_.push_back({tag, &record, value});
}

bool ValueHandover::passDone() {
    if (pass_.empty() && passDropped_ == 0) {
        return false;
    }
    std::lock_guard lock(mutex_);
    dropped_ += std::exchange(passDropped_, 0);
    if (handed_.empty()) {
        handed_.swap(pass_);  // the usual case: the publisher took the last pass already
    } else {
        const std::size_t room = maxValues_ - std::min(maxValues_, handed_.size());
        const std::size_t kept = std::min(room, pass_.size());
        handed_.insert(handed_.end(), pass_.begin(), pass_.begin() + static_cast<long>(kept));
        dropped_ += pass_.size() - kept;
    }
    pass_.clear();
    return true;
}

void ValueHandover::take(std::vector<OfferedValue>& out) {
    out.clear();
    std::lock_guard lock(mutex_);
    out.swap(handed_);
}

uint64_t ValueHandover::takeDropped() {
    std::lock_guard lock(mutex_);
    return std::exchange(dropped_, 0);
}

}  // namespace daq::mqtt
