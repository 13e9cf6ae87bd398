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

// Lock order: the registry lock, then the current-values source's own lock or a map's header
// lock (innermost).
class MapRegistry {
  public:
    static MapRegistry& instance();

    // Writes the current values into the map's headers and makes them reachable.
    void attach(OpenMap* map);
    // Once it returns, no writer touches the map's headers any more.
    void detach(OpenMap* map);

    std::size_t write(const HeaderUpdate* updates, std::size_t count);
    bool read(const kelvane::TIOList* record, kelvane::TCurrentValue* value);
    int32_t openCount();
    void setCurrentValues(CurrentValues source);

  private:
    std::mutex lock_;
    std::vector<OpenMap*> maps_;
    // Writes into one map's headers; the caller holds lock_.
    static std::size_t writeInto(OpenMap& map, const HeaderUpdate* updates, std::size_t count);

    CurrentValues currentValues_{};
};

}  // namespace host
