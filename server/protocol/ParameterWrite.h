// "PARAMETERWRITE": one parameter of the requesting connection's selected unit.
#pragma once

#include <cstdint>
#include <string_view>

#include "kelvane/SystemRecords.h"
#include "server/protocol/Request.h"

namespace daq::protocol {

// Answers "RESULT" twice: "OK"/"0" when written, "FAILED"/"-1" when nothing was written (no
// parameter index that is an integer, or setParamWrite failed), "FAILED"/"-2" when this
// connection has no write permission (nothing is sent to the unit).
bool handleParameterWrite(RequestContext& request);

// Writes `value` (UTF-8) to parameter `index` of `unit`: an item parameter that is its own
// group takes a new item number directly (the unit is told with PropertyChange); otherwise the
// unit's writer gets the value. False, after a trace, with nothing written, when the index lies
// outside the unit's parameters, the unit is not connected, the parameter is disabled or takes
// no value (hidden and other types), the value is not what its type holds (an item number
// outside its items, a non-number or a number outside its range for types 3 and 11, a text
// with a zero character), the unit gives no writer, or the writer failed.
bool setParamWrite(kelvane::TUnitData& unit, int32_t index, int32_t group, std::string_view value);

}  // namespace daq::protocol
