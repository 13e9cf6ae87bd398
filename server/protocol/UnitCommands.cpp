#include "server/protocol/UnitCommands.h"

#include <stdexcept>
#include <string>

#include "common/TextConvert.h"
#include "kelvane/Text.h"
#include "server/protocol/RequestValues.h"

namespace daq::protocol {

namespace {

kelvane::TPinzBase& plugin(const kelvane::TUnitData& unit) {
    if (unit.Pinz == nullptr) {
        throw std::runtime_error("the unit has no plug-in object");
    }
    return *unit.Pinz;
}

}  // namespace

UnitReply sendUnitCommand(const kelvane::TUnitData& unit, int32_t code,
                          std::u16string_view argument) {
    const std::u16string text(argument);  // zero-terminated for the unit
    kelvane::TPinzCommand command{};
    command.Code = code;
    command.Value = unit.UnitId;
    command.Text = text.c_str();
    kelvane::_TPinzSendParam param{};
    param.Kind = kelvane::kPinzCommandKind;
    param.Command = &command;
    plugin(unit).SendParam(&param);
    return {std::u16string(kelvane::RefText(command.Text)), command.Data};
}

UnitReply sendParamCommand(const kelvane::TUnitData& unit, int32_t code, int32_t index) {
    return sendUnitCommand(unit, code, toUtf16(std::to_string(index)));
}

bool selectUnit(kelvane::TUnitData& unit, kelvane::TUnitData*& selection) {
    if (unit.Pinz == nullptr || unit.Pinz->PinKind() == kelvane::kInterfacePinKind) {
        return false;
    }
    sendUnitCommand(unit, ucSelect);
    selection = &unit;
    return true;
}

int32_t paramGroup(const kelvane::TUnitData& unit, int32_t index) {
    return toInteger(toUtf8(sendParamCommand(unit, ucParamGroup, index).text)).value_or(0);
}

bool queryParamGroup(const kelvane::TUnitData& unit, int32_t index) {
    const int32_t group = paramGroup(unit, index);
    return group >= 0 && group == index;
}

bool hasParamRange(int32_t propType) {
    return propType == 3 || propType == 9 || propType == 11;
}

const kelvane::TParamRange* paramRange(const kelvane::TUnitData& unit,
                                       const kelvane::TPropValue& parameter, int32_t index) {
    if (!hasParamRange(parameter.PropType)) {
        return nullptr;
    }
    const auto* range =
        static_cast<const kelvane::TParamRange*>(sendParamCommand(unit, ucParamRange, index).data);
    return range != nullptr && range->Valid ? range : nullptr;
}

kelvane::TTList<kelvane::TPropValue*>* unitProperties(const kelvane::TUnitData& unit) {
    return unit.Pinz == nullptr ? nullptr : unit.Pinz->Properties();
}

int32_t parameterCount(const kelvane::TUnitData& unit) {
    const auto* properties = unitProperties(unit);
    return properties == nullptr ? 0 : properties->Count();
}

kelvane::TPropValue* unitParameter(const kelvane::TUnitData& unit, int32_t index) {
    auto* properties = unitProperties(unit);
    if (properties == nullptr || index < 0 || index >= properties->Count()) {
        return nullptr;
    }
    return (*properties)[index];
}

int32_t itemCount(const kelvane::TPropItems* items) {
    return items == nullptr || items->Count < 0 ? 0 : items->Count;
}

std::u16string_view itemText(const kelvane::TPropItems* items, int32_t index) {
    if (index < 0 || index >= itemCount(items) || items->Texts == nullptr) {
        return {};
    }
    return kelvane::RefText(items->Texts[index]);
}

ParamGroup paramTypeGroup(int32_t propType) {
    switch (propType) {
        case 0:
        case 3:
        case 5:
        case 11:
        case 13:
        case 14:
            return ParamGroup::Text;
        case 2:
        case 4:
        case 7:
        case 8:
        case 9:
        case 10:
        case 12:
            return ParamGroup::Item;
        case 1:
        case 6:
            return ParamGroup::Hidden;
        default:
            return ParamGroup::Other;
    }
}

int32_t connectState(const kelvane::TUnitData& unit) {
    if (unit.ConnectState == nullptr) {
        throw std::runtime_error("the unit has no connect state");
    }
    return *unit.ConnectState;
}

}  // namespace daq::protocol
