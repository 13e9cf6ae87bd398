#include "server/IoMap.h"

#include <algorithm>
#include <cstring>

namespace daq {

IoMap::IoMap(kelvane::TReadMapFile& map, int32_t entriesPerSlice)
    : map_(map), entriesPerSlice_(std::max<int32_t>(1, entriesPerSlice)) {}

void IoMap::clear() {
    std::lock_guard lock(mutex_);
    map_.Clear();
    ++generation_;
}

void IoMap::add(kelvane::TIOList* io) {
    std::lock_guard lock(mutex_);
    map_.Add(io);
    ++generation_;
}

int32_t IoMap::open() {
    std::lock_guard lock(mutex_);
    return map_.Open(true);
}

void IoMap::close() {
    std::lock_guard lock(mutex_);
    map_.Close();
}

int32_t IoMap::count() const {
    std::lock_guard lock(mutex_);
    return map_.GetCount();
}

void IoMap::refresh() {
    for (int32_t next = 0; next >= 0;) {
        next = refreshSlice(next);
    }
}

int32_t IoMap::refreshSlice(int32_t first) {
    std::lock_guard lock(mutex_);
    // The map may have been emptied or rebuilt since the previous slice.
    const int32_t count = map_.GetCount();
    if (first >= count) {
        return -1;
    }
    const int32_t end = count - first > entriesPerSlice_ ? first + entriesPerSlice_ : count;
    std::lock_guard headers(map_.HeaderLock());
    for (int32_t i = first; i < end; ++i) {
        const kelvane::TMapHeader* header = map_.GetHeader(i);
        if (header == nullptr || header->Current.Updated == 0) {
            continue;
        }
        kelvane::TIOList* io = map_.GetIOList(i);
        if (io != nullptr) {
            std::memcpy(&io->Current, &header->Current, sizeof(kelvane::TCurrentValue));
        }
    }
    return end < count ? end : -1;
}

}  // namespace daq
