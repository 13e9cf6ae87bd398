// The open maps of the process, so that the host can write their headers (library-internal).
#pragma once

#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "MapAccess.h"

namespace kelvane::readmap {

// Headers of one open map and where each IO record sits in them.
struct OpenMap {
    std::mutex* HeaderLock;
    TMapHeader* Headers;
    std::unordered_multimap<const TIOList*, int32_t> EntriesOf;
};

// Lock order: the registry lock, then a map's header lock (innermost).
class MapRegistry {
  public:
    static MapRegistry& Instance();

    // Makes the map's headers reachable, then tells the host that a map has opened.
    void Attach(OpenMap* map);
    // Once it returns, no writer touches the map's headers any more.
    void Detach(OpenMap* map);

    std::size_t Write(const HeaderUpdate* updates, std::size_t count);
    bool Read(const TIOList* record, TCurrentValue* value);
    int32_t OpenCount();
    void SetOpenedEvent(MapOpenedEvent handler);

  private:
    std::mutex lock_;
    std::vector<OpenMap*> maps_;
    MapOpenedEvent opened_{};
};

}  // namespace kelvane::readmap
