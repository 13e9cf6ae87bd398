// Talking to a device unit's plug-in object: the host commands of the parameter requests and
// the unit's parameters.
#pragma once

#include <cstdint>
#include <string>

#include "kelvane/Pinz.h"
#include "kelvane/SystemRecords.h"

namespace daq::protocol {

enum TUnitCommand : int32_t {
    ucSelect = 5,         // a unit is selected; no argument
    ucParamWriter = 105,  // Data: the unit's TParamWriteEvent for a parameter, or null
    ucParamGroup = 106,   // Text: the parameter's group index, negative for none
    ucParamRange = 109,   // Data: the unit's TParamRange for a parameter
};

// What the unit left in the command record.
struct UnitReply {
    std::u16string text;  // Text after the call (the argument when the unit left it alone)
    void* data = nullptr;
};

// Sends one command (kind 54, Value = the unit's UnitId, Text = `argument`) through the unit
// plug-in's SendParam, synchronously. Throws when the unit has no plug-in object.
UnitReply sendUnitCommand(const kelvane::TUnitData& unit, int32_t code,
                          std::u16string_view argument = {});
UnitReply sendParamCommand(const kelvane::TUnitData& unit, int32_t code, int32_t index);

// selectUnit: a unit whose plug-in is not an interface gets command 5 and becomes the
// selection; false (selection unchanged) otherwise.
bool selectUnit(kelvane::TUnitData& unit, kelvane::TUnitData*& selection);

// Command 106: the group index the unit answers for a parameter (0 when not an integer).
int32_t paramGroup(const kelvane::TUnitData& unit, int32_t index);
// queryParamGroup: the parameter is its own group.
bool queryParamGroup(const kelvane::TUnitData& unit, int32_t index);

// The types whose range a unit is asked for: 3, 9, 11.
bool hasParamRange(int32_t propType);
// Command 109 for a parameter of such a type: the unit's range when it gives a valid one, else
// null (no command for the other types).
const kelvane::TParamRange* paramRange(const kelvane::TUnitData& unit,
                                       const kelvane::TPropValue& parameter, int32_t index);

// The unit's parameter list; null when its plug-in object has none.
kelvane::TTList<kelvane::TPropValue*>* unitProperties(const kelvane::TUnitData& unit);
int32_t parameterCount(const kelvane::TUnitData& unit);
// Parameter `index`, or null when the index lies outside the unit's parameters.
kelvane::TPropValue* unitParameter(const kelvane::TUnitData& unit, int32_t index);

// Item texts of a parameter; a missing list or text reads as none or empty.
int32_t itemCount(const kelvane::TPropItems* items);
std::u16string_view itemText(const kelvane::TPropItems* items, int32_t index);

// Type groups of a parameter's PropType.
enum class ParamGroup { Text, Item, Hidden, Other };
ParamGroup paramTypeGroup(int32_t propType);

// The current connect state of a unit; throws when the host gave it none.
int32_t connectState(const kelvane::TUnitData& unit);

}  // namespace daq::protocol
