// The device units "DEVICELIST" lists, and the one a command names with its filters.
#pragma once

#include <string>
#include <vector>

#include "tools/daqclient/Options.h"
#include "tools/daqclient/ServerLink.h"

namespace daqclient {

struct Device {
    std::string interfaceName;
    std::string deviceName;
    std::string model;
    std::string station;
    std::string connectState;
};

std::vector<Device> fetchDevices(ServerLink& link);

// The device the filters name. Every given filter must equal the device's text exactly. When
// all three are given, the first match counts, as it does for the server; with fewer, the
// filters must match exactly one device. CommandError otherwise.
Device findDevice(const std::vector<Device>& devices, const UnitFilter& filter);

// Selects the device for this connection's parameter requests ("PARAMETERLISTCOUNT") and gives
// the answer: "STATE", "PARAMREAD", "COUNT".
daq::client::Answer selectDevice(ServerLink& link, const Device& device);

}  // namespace daqclient
