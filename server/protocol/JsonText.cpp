#include "server/protocol/JsonText.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace daq::protocol {

std::string toJsonText(const rapidjson::Value& value) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    value.Accept(writer);
    return {buffer.GetString(), buffer.GetSize()};
}

}  // namespace daq::protocol
