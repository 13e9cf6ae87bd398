// The IO records of the DAQ run as request handlers read them. The server runtime's IO map
// implements it; the protocol needs neither the map library nor the refresh behind it.
#pragma once

#include <cstdint>

#include "common/FunctionRef.h"
#include "kelvane/IORecords.h"

namespace daq::protocol {

// The records seen while the source holds them still (IoRecordSource::read).
class IoSnapshot {
  public:
    virtual int32_t count() const = 0;
    // i must lie in 0..count()-1 (checked by the caller against count()).
    virtual kelvane::TIOList* record(int32_t i) const = 0;
    // Changes whenever the entries change (cleared, added to): what a reader keeps about the
    // records at each index holds only while it stays the same.
    virtual uint64_t generation() const = 0;

  protected:
    ~IoSnapshot() = default;
};

class IoRecordSource {
  public:
    virtual int32_t count() const = 0;
    // Runs `reader` with the records held still: no refresh copies into them and no rebuild
    // changes them meanwhile. The snapshot and its records are valid only inside `reader`.
    virtual void read(FunctionRef<void(const IoSnapshot&)> reader) const = 0;

  protected:
    ~IoRecordSource() = default;
};

}  // namespace daq::protocol
