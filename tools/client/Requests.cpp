#include "tools/client/Requests.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace daq::client {

namespace {

// Writes one request object; the writer escapes every text, control characters included.
class Request {
  public:
    explicit Request(std::string_view id) {
        writer_.StartObject();
        text("PS_ID", id);
    }

    Request& text(std::string_view key, std::string_view value) {
        name(key);
        writer_.String(value.data(), static_cast<rapidjson::SizeType>(value.size()));
        return *this;
    }

    Request& integer(std::string_view key, int value) { return text(key, std::to_string(value)); }

    Request& numbers(std::string_view key, std::span<const int> values) {
        name(key);
        writer_.StartArray();
        for (int value : values) {
            writer_.Int(value);
        }
        writer_.EndArray();
        return *this;
    }

    Request& startObject(std::string_view key) {
        name(key);
        writer_.StartObject();
        return *this;
    }

    Request& endObject() {
        writer_.EndObject();
        return *this;
    }

    std::string json() {
        writer_.EndObject();
        return {buffer_.GetString(), buffer_.GetSize()};
    }

  private:
    void name(std::string_view key) {
        writer_.Key(key.data(), static_cast<rapidjson::SizeType>(key.size()));
    }

    rapidjson::StringBuffer buffer_;
    rapidjson::Writer<rapidjson::StringBuffer> writer_{buffer_};
};

}  // namespace

std::string aliveRequest() {
    return Request("ALIVE").json();
}

std::string loginRequest(std::string_view id, std::string_view password, const ClientDevice& device,
                         std::string_view clientType) {
    return Request("LOGIN")
        .text("CLIENT_TYPE", clientType)
        .text("ID", id)
        .text("PW", password)
        .startObject("DEVICE")
        .text("OS", device.os)
        .text("VERSION", device.version)
        .text("MODEL NAME", device.modelName)
        .text("LOCATION", device.location)
        .endObject()
        .json();
}

std::string projectInfoRequest() {
    return Request("PROJECTINFO").json();
}

std::string daqListCountRequest() {
    return Request("DAQLISTCOUNT").json();
}

std::string daqListRequest(int start, int size) {
    return Request("DAQLIST").integer("START_INDEX", start).integer("LIST_SIZE", size).json();
}

std::string daqDataRequest(std::span<const int> indexes) {
    return Request("DAQ_DATA").numbers("DAQ_INDEX", indexes).json();
}

std::string deviceListRequest() {
    return Request("DEVICELIST").json();
}

std::string parameterListCountRequest(std::string_view interfaceName, std::string_view deviceName,
                                      std::string_view station) {
    return Request("PARAMETERLISTCOUNT")
        .text("INTERFACE", interfaceName)
        .text("DEVICENAME", deviceName)
        .text("STATION", station)
        .json();
}

std::string parameterListRequest(int start, int size) {
    return Request("PARAMETERLIST").integer("START_INDEX", start).integer("LIST_SIZE", size).json();
}

std::string parameterDetailRequest(int index) {
    return Request("PARAMETERDETAIL").integer("PARAMINDEX", index).json();
}

std::string parameterWriteRequest(int group, int index, std::string_view value) {
    return Request("PARAMETERWRITE")
        .integer("GROUPINDEX", group)
        .integer("PARAMINDEX", index)
        .text("VALUE", value)
        .json();
}

std::string daqStatusRequest() {
    return Request("DAQSTATUS").json();
}

}  // namespace daq::client
