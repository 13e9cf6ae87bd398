#include "tools/daqclient/Devices.h"

#include "server/protocol/JsonRequest.h"

namespace daqclient {

namespace {

using daq::protocol::getJsonString;

bool matches(const Device& device, const UnitFilter& filter) {
    return (!filter.interfaceName || *filter.interfaceName == device.interfaceName) &&
           (!filter.deviceName || *filter.deviceName == device.deviceName) &&
           (!filter.station || *filter.station == device.station);
}

std::string describe(const UnitFilter& filter) {
    std::string text;
    auto add = [&text](const char* option, const std::optional<std::string>& value) {
        if (value) {
            text += (text.empty() ? "" : " ") + std::string(option) + " \"" + *value + "\"";
        }
    };
    add("--interface", filter.interfaceName);
    add("--device", filter.deviceName);
    add("--station", filter.station);
    return text;
}

}  // namespace

std::vector<Device> fetchDevices(ServerLink& link) {
    const auto answer = link.request(daq::client::deviceListRequest(), "DEVICELIST");
    const auto* list = daq::protocol::findJsonPath(answer, "LIST");
    if (list == nullptr || !list->IsArray()) {
        throw CommandError(ExitCode::Failure, "bad answer to DEVICELIST: no LIST");
    }
    std::vector<Device> devices;
    for (const auto& item : list->GetArray()) {
        if (item.IsObject()) {
            devices.push_back({getJsonString(item, "INTERFACE"), getJsonString(item, "DEVICENAME"),
                               getJsonString(item, "MODELNAME"), getJsonString(item, "STATION"),
                               getJsonString(item, "CONNECTSTATE")});
        }
    }
    return devices;
}

Device findDevice(const std::vector<Device>& devices, const UnitFilter& filter) {
    if (!filter.interfaceName && !filter.deviceName && !filter.station) {
        throw CommandError(ExitCode::Usage,
                           "name the device with --interface, --device and/or --station "
                           "(see \"daqclient devices\")");
    }
    std::vector<const Device*> found;
    for (const Device& device : devices) {
        if (matches(device, filter)) {
            found.push_back(&device);
        }
    }
    if (found.empty()) {
        throw CommandError(ExitCode::Failure, "no device matches " + describe(filter) +
                                                  " among the server's " +
                                                  std::to_string(devices.size()) +
                                                  " devices (see \"daqclient devices\")");
    }
    const bool complete = filter.interfaceName && filter.deviceName && filter.station;
    if (found.size() > 1 && !complete) {
        throw CommandError(ExitCode::Failure, describe(filter) + " matches " +
                                                  std::to_string(found.size()) +
                                                  " devices; add --interface, --device or "
                                                  "--station to name one");
    }
    return *found.front();
}

daq::client::Answer selectDevice(ServerLink& link, const Device& device) {
    return link.request(daq::client::parameterListCountRequest(device.interfaceName,
                                                               device.deviceName, device.station),
                        "PARAMETERLISTCOUNT");
}

}  // namespace daqclient
