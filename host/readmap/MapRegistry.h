// The open maps of the process, so that the host can write their headers (library-internal).
#pragma once

#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "host/readmap/MapAccess.h"

namespace host {

// Headers of one open map and where each IO record sits in them.
struct OpenMap {
    std::mutex* headerLock;
    kelvane::TMapHeader* headers;
    std::unordered_multimap<const kelvane::TIOList*, int32_t> entriesOf;
};

// Lock order: the registry lock, then a map's header lock (innermost).
class MapRegistry {
  public:
    static MapRegistry& instance();

    // Makes the map's headers reachable, then tells the host that a map has opened.
    void attach(OpenMap* map);
    // Once it returns, no writer touches the map's headers any more.
    void detach(OpenMap* map);

    std::size_t write(const HeaderUpdate* updates, std::size_t count);
    bool read(const kelvane::TIOList* record, kelvane::TCurrentValue* value);
    int32_t openCount();
    void setOpenedEvent(MapOpenedEvent handler);

  private:
    std::mutex lock_;
    std::vector<OpenMap*> maps_;
    MapOpenedEvent opened_{};
};

}  // namespace host
