// The device list: the checked device units of the host's system tree, in walk order.
#pragma once

#include <string>
#include <vector>

#include "kelvane/SystemRecords.h"

namespace daq::protocol {

struct _TDeviceInfo {
    kelvane::TUnitData* Unit = nullptr;  // the host's, not owned
    // Info text of the top unit of Unit's ParentUnit chain, copied at the walk; empty for a
    // unit without parent.
    std::u16string Interface;
};

// A device list never changes once built: a rebuild makes a new one, so a request keeps
// reading the list it started with.
using DeviceEntries = std::vector<_TDeviceInfo>;

}  // namespace daq::protocol
