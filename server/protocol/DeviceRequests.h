// "DEVICELIST": the device list with the current state of each unit.
#pragma once

#include "server/protocol/Request.h"

namespace daq::protocol {

// An entry whose unit lacks its device record or connect state ends the request with a
// "Device Info Error" trace and no answer.
bool handleDeviceList(RequestContext& request);

}  // namespace daq::protocol
