// Compact JSON text of a value, as every request and response is written on the wire.
#pragma once

#include <string>

#include <rapidjson/document.h>

namespace daq::protocol {

// Serialises without insignificant white space, members in insertion order (a duplicated
// name stays duplicated), non-ASCII characters as UTF-8 and control characters escaped, so
// the text never holds the frame bytes 0x02, 0x03 or 0x00.
std::string toJsonText(const rapidjson::Value& value);

}  // namespace daq::protocol
