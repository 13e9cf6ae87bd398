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

namespace requests {

std::string alive();
// "CLIENT_TYPE", "ID", "PW" and the nested "DEVICE" object with "OS", "VERSION",
// "MODEL NAME" and "LOCATION".
std::string login(std::string_view id, std::string_view password, const ClientDevice& device = {},
                  std::string_view clientType = {});
std::string projectInfo();
std::string daqListCount();
// "START_INDEX", "LIST_SIZE".
std::string daqList(int start, int size);
// "DAQ_INDEX": the indexes as an array of numbers.
std::string daqData(std::span<const int> indexes);
std::string deviceList();
// "INTERFACE", "DEVICENAME", "STATION": selects the device unit for the parameter requests.
std::string parameterListCount(std::string_view interfaceName, std::string_view deviceName,
                               std::string_view station);
// "START_INDEX", "LIST_SIZE".
std::string parameterList(int start, int size);
// "PARAMINDEX".
std::string parameterDetail(int index);
// "GROUPINDEX", "PARAMINDEX", "VALUE".
std::string parameterWrite(int group, int index, std::string_view value);
std::string daqStatus();

}  // namespace requests

}  // namespace daq::client
