#include "host/readmap/MapRegistry.h"

#include <algorithm>
#include <atomic>

namespace host {

namespace {
std::atomic<bool> failOpens{false};
}

MapRegistry& MapRegistry::instance() {
    static MapRegistry registry;
    return registry;
}

void MapRegistry::attach(OpenMap* map) {
    std::lock_guard lock(lock_);
    // Asked under the registry lock so that a source being removed is never running.
    if (currentValues_) {
        std::vector<HeaderUpdate> initial;
        currentValues_(initial);
        writeInto(*map, initial.data(), initial.size());
    }
    maps_.push_back(map);
}

void MapRegistry::detach(OpenMap* map) {
    std::lock_guard lock(lock_);
    maps_.erase(std::remove(maps_.begin(), maps_.end(), map), maps_.end());
}

std::size_t MapRegistry::write(const HeaderUpdate* updates, std::size_t count) {
    std::size_t written = 0;
    std::lock_guard lock(lock_);
    for (OpenMap* map : maps_) {
        written += writeInto(*map, updates, count);
    }
    return written;
}

std::size_t MapRegistry::writeInto(OpenMap& map, const HeaderUpdate* updates, std::size_t count) {
    std::size_t written = 0;
    std::lock_guard headerLock(*map.headerLock);
    for (std::size_t u = 0; u < count; ++u) {
        const auto [first, last] = map.entriesOf.equal_range(updates[u].record);
        for (auto entry = first; entry != last; ++entry) {
            kelvane::TMapHeader& header = map.headers[entry->second];
            header.Current = updates[u].value;
            header.Current.Updated = 1;
            ++header.WriteCount;
            ++written;
        }
    }
    return written;
}

bool MapRegistry::read(const kelvane::TIOList* record, kelvane::TCurrentValue* value) {
    std::lock_guard lock(lock_);
    for (OpenMap* map : maps_) {
        const auto entry = map->entriesOf.find(record);
        if (entry != map->entriesOf.end()) {
            std::lock_guard headerLock(*map->headerLock);
            *value = map->headers[entry->second].Current;
            return true;
        }
    }
    return false;
}

int32_t MapRegistry::openCount() {
    std::lock_guard lock(lock_);
    return static_cast<int32_t>(maps_.size());
}

void MapRegistry::setCurrentValues(CurrentValues source) {
    std::lock_guard lock(lock_);
    currentValues_ = source;
}

std::size_t writeHeaders(const HeaderUpdate* updates, std::size_t count) {
    return MapRegistry::instance().write(updates, count);
}

bool readHeader(const kelvane::TIOList* record, kelvane::TCurrentValue* value) {
    return MapRegistry::instance().read(record, value);
}

int32_t openMapCount() {
    return MapRegistry::instance().openCount();
}

void setOpenFailure(bool fail) {
    failOpens.store(fail);
}

bool openFailure() {
    return failOpens.load();
}

void setCurrentValues(CurrentValues source) {
    MapRegistry::instance().setCurrentValues(source);
}

}  // namespace host
