// The host's side of the IO-map library: the plug-in owns its TReadMapFile, so the host reaches
// the open maps through this process-wide access to their header records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

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

// Fills `updates` with the latest value of every record the host has one for. A map that opens
// asks it (on the opening thread, inside Open) and starts with those values, so a plug-in never
// reads a header the host has not written yet. One source per process; an empty closure removes
// it. Once setCurrentValues returns, the previous source is no longer running or called.
using CurrentValues = kelvane::TClosure<void(std::vector<HeaderUpdate>& updates)>;
KVREADMAP_API void setCurrentValues(CurrentValues source);

}  // namespace host
