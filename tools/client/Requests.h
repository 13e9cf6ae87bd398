// The JSON text of each request of the protocol, written compactly with "PS_ID" first. Integer
// members go out as decimal texts (the server reads every member as text), the indexes of
// "DAQ_DATA" as JSON numbers.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace daq::client {

// What a client tells about itself at login ("DEVICE" object).
struct ClientDevice {
    std::string os{};
    std::string version{};
    std::string modelName{};
    std::string location{};
};

std::string aliveRequest();
// "CLIENT_TYPE", "ID", "PW" and the nested "DEVICE" object with "OS", "VERSION",
// "MODEL NAME" and "LOCATION".
std::string loginRequest(std::string_view id, std::string_view password,
                         const ClientDevice& device = {}, std::string_view clientType = {});
std::string projectInfoRequest();
std::string daqListCountRequest();
// "START_INDEX", "LIST_SIZE".
std::string daqListRequest(int start, int size);
// "DAQ_INDEX": the indexes as an array of numbers.
std::string daqDataRequest(std::span<const int> indexes);
std::string deviceListRequest();
// "INTERFACE", "DEVICENAME", "STATION": selects the device unit for the parameter requests.
std::string parameterListCountRequest(std::string_view interfaceName, std::string_view deviceName,
                                      std::string_view station);
// "START_INDEX", "LIST_SIZE".
std::string parameterListRequest(int start, int size);
// "PARAMINDEX".
std::string parameterDetailRequest(int index);
// "GROUPINDEX", "PARAMINDEX", "VALUE".
std::string parameterWriteRequest(int group, int index, std::string_view value);
std::string daqStatusRequest();

}  // namespace daq::client
