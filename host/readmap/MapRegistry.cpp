#include "MapRegistry.h"

#include <algorithm>
#include <atomic>

namespace kelvane::readmap {

namespace {
std::atomic<bool> openFailure{false};
}

MapRegistry& MapRegistry::Instance() {
    static MapRegistry registry;
    return registry;
}

void MapRegistry::Attach(OpenMap* map) {
    std::lock_guard lock(lock_);
    maps_.push_back(map);
    // Called under the registry lock so that a handler being removed is never running.
    if (opened_) {
        opened_();
    }
}

void MapRegistry::Detach(OpenMap* map) {
    std::lock_guard lock(lock_);
    maps_.erase(std::remove(maps_.begin(), maps_.end(), map), maps_.end());
}

std::size_t MapRegistry::Write(const HeaderUpdate* updates, std::size_t count) {
    std::size_t written = 0;
    std::lock_guard lock(lock_);
    for (OpenMap* map : maps_) {
        std::lock_guard headerLock(*map->HeaderLock);
        for (std::size_t u = 0; u < count; ++u) {
            const auto [first, last] = map->EntriesOf.equal_range(updates[u].Record);
            for (auto entry = first; entry != last; ++entry) {
                TMapHeader& header = map->Headers[entry->second];
                header.Current = updates[u].Value;
                header.Current.Updated = 1;
                ++header.WriteCount;
                ++written;
            }
        }
    }
    return written;
}

bool MapRegistry::Read(const TIOList* record, TCurrentValue* value) {
    std::lock_guard lock(lock_);
    for (OpenMap* map : maps_) {
        const auto entry = map->EntriesOf.find(record);
        if (entry != map->EntriesOf.end()) {
            std::lock_guard headerLock(*map->HeaderLock);
            *value = map->Headers[entry->second].Current;
            return true;
        }
    }
    return false;
}

int32_t MapRegistry::OpenCount() {
    std::lock_guard lock(lock_);
    return static_cast<int32_t>(maps_.size());
}

void MapRegistry::SetOpenedEvent(MapOpenedEvent handler) {
    std::lock_guard lock(lock_);
    opened_ = handler;
}

std::size_t WriteHeaders(const HeaderUpdate* updates, std::size_t count) {
    return MapRegistry::Instance().Write(updates, count);
}

bool ReadHeader(const TIOList* record, TCurrentValue* value) {
    return MapRegistry::Instance().Read(record, value);
}

int32_t OpenMapCount() {
    return MapRegistry::Instance().OpenCount();
}

void SetOpenFailure(bool fail) {
    openFailure.store(fail);
}

bool OpenFailure() {
    return openFailure.load();
}

void SetMapOpenedEvent(MapOpenedEvent handler) {
    MapRegistry::Instance().SetOpenedEvent(handler);
}

}  // namespace kelvane::readmap
