#include "server/runtime/IoMap.h"

#include <algorithm>
#include <cstring>

namespace daq {

IoMap::IoMap(kelvane::TReadMapFile& map, int32_t entriesPerSlice)
    : map_(map), entriesPerSlice_(std::max<int32_t>(1, entriesPerSlice)) {}

void IoMap::clear() {
    std::lock_guard lock(mutex_);
    map_.Clear();
    open_.clear();
    ++generation_;
}

void IoMap::add(kelvane::TIOList* io) {
    std::lock_guard lock(mutex_);
    map_.Add(io);
    ++generation_;
}

int32_t IoMap::open() {
    std::lock_guard lock(mutex_);
    open_.clear();
    const int32_t opened = map_.Open(true);
    if (opened != 0) {
        const int32_t count = map_.GetCount();
        open_.reserve(static_cast<std::size_t>(count));
        for (int32_t i = 0; i < count; ++i) {
            const kelvane::TMapHeader* header = map_.GetHeader(i);
            kelvane::TIOList* io = map_.GetIOList(i);
            if (header != nullptr && io != nullptr) {
                open_.push_back({header, io, i});
            }
        }
    }
    return opened;
}

void IoMap::close() {
    std::lock_guard lock(mutex_);
    map_.Close();
    open_.clear();
}

int32_t IoMap::count() const {
    std::lock_guard lock(mutex_);
    return map_.GetCount();
}

void IoMap::read(FunctionRef<void(const protocol::IoSnapshot&)> reader) const {
    std::lock_guard lock(mutex_);
    reader(Snapshot(map_, generation_));
}

void IoMap::setPublisher(mqtt::Publisher* publisher) {
    std::lock_guard lock(mutex_);
    publisher_ = publisher;
}

void IoMap::refresh() {
    for (int32_t next = 0; next >= 0;) {
        next = refreshSlice(next);
    }
}

int32_t IoMap::refreshSlice(int32_t first) {
    std::lock_guard lock(mutex_);
    // The map may have been emptied or rebuilt since the previous slice.
    const auto count = static_cast<int32_t>(open_.size());
    if (first >= count) {
        return -1;
    }
    const int32_t end = count - first > entriesPerSlice_ ? first + entriesPerSlice_ : count;
    std::lock_guard headers(map_.HeaderLock());
    for (int32_t i = first; i < end; ++i) {
        const OpenEntry& entry = open_[static_cast<std::size_t>(i)];
        // Comparing first costs about what the copy would, and tells the publisher what changed.
        if (entry.header->Current.Updated != 0 &&
            std::memcmp(&entry.io->Current, &entry.header->Current,
                        sizeof(kelvane::TCurrentValue)) != 0) {
            std::memcpy(&entry.io->Current, &entry.header->Current, sizeof(kelvane::TCurrentValue));
            if (publisher_ != nullptr) {
                publisher_->offer(entry.index, *entry.io, entry.io->Current);
            }
        }
    }
    if (end < count) {
        return end;
    }
    if (publisher_ != nullptr) {
        publisher_->passDone();
    }
    return -1;
}

}  // namespace daq
