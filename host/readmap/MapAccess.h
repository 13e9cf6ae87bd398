// The host's side of the IO-map library: the plug-in owns its TReadMapFile, so the host reaches
// the open maps through this process-wide access to their header records.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kelvane/Closure.h"
#include "kelvane/IORecords.h"
#include "kelvane/ReadMapFile.h"

namespace host {

// A new current value for one IO record.
struct HeaderUpdate {
    const kelvane::TIOList* record;
    kelvane::TCurrentValue value;
};

// Writes each update into the header of every entry of every open map that holds its record,
// under that map's HeaderLock(): the block is replaced, Updated set and WriteCount counted.
// Returns the number of headers written (0 while no open map holds the records).
KVREADMAP_API std::size_t writeHeaders(const HeaderUpdate* updates, std::size_t count);

// Copies the current-value block of the first open entry holding the record; false if none.
KVREADMAP_API bool readHeader(const kelvane::TIOList* record, kelvane::TCurrentValue* value);

// Number of maps open at the moment.
KVREADMAP_API int32_t openMapCount();

// While set, Open() fails (returns 0) without opening anything. Off by default.
KVREADMAP_API void setOpenFailure(bool fail);
KVREADMAP_API bool openFailure();

// Called (on the thread that opens a map, inside Open) each time a map has opened, so that the
// host can write current values at once. One handler per process; an empty closure removes it.
// Once setMapOpenedEvent returns, the previous handler is no longer running or called.
using MapOpenedEvent = kelvane::TClosure<void()>;
KVREADMAP_API void setMapOpenedEvent(MapOpenedEvent handler);

}  // namespace host
