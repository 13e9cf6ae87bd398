#include "server/protocol/ParameterRequests.h"

#include <algorithm>
#include <string>

#include "common/NumberFormat.h"
#include "common/TextConvert.h"
#include "kelvane/Text.h"
#include "server/protocol/JsonRequest.h"
#include "server/protocol/RequestValues.h"
#include "server/protocol/TraceText.h"
#include "server/protocol/UnitCommands.h"
#include "trace/Trace.h"

namespace daq::protocol {

namespace {

constexpr const char* kTraceFile = "ParameterRequests.cpp";

void beginUnitAnswer(Answer& answer, const kelvane::TUnitData& unit) {
    answer.begin().StartObject();
    answer.key("PS_ID");
    answer.writer().Bool(true);
    answer.key("STATE");
    answer.writer().Int(connectState(unit));
    answer.key("PARAMREAD");
    answer.writer().Bool(true);
}

bool matches(const _TDeviceInfo& entry, std::u16string_view interfaceName,
             std::u16string_view deviceName, std::u16string_view station) {
    const kelvane::TUnitData& unit = *entry.Unit;
    return entry.Interface == interfaceName && unit.Device != nullptr &&
           kelvane::RefText(unit.Device->DeviceName) == deviceName &&
           kelvane::FieldText(unit.UnitName) == station;
}

void writeListEntry(Answer& answer, const kelvane::TPropValue& parameter, int32_t index) {
    auto& writer = answer.writer();
    writer.StartObject();
    answer.key("PARAMNAME");
    writer.Bool(true);
    answer.key("PROPTYPE");
    writer.Int(parameter.PropType);
    switch (paramTypeGroup(parameter.PropType)) {
        case ParamGroup::Text: {
            std::u16string text(kelvane::FieldText(parameter.ValueText));
            text += kelvane::FieldText(parameter.UnitText);
            answer.member("VALUE", text);
            break;
        }
        case ParamGroup::Item:
            answer.member("VALUE", itemText(parameter.Items, parameter.ItemIndex));
            break;
        case ParamGroup::Hidden:
        case ParamGroup::Other:
            break;
    }
    answer.key("ENABLE");
    writer.Bool(true);
    if (parameter.Enabled & 1) {
        answer.key("PARAMETERTYPE");
        writer.Bool(true);
    }
    answer.key("PARAMINDEX");
    answer.string(std::to_string(index));
    writer.EndObject();
}

}  // namespace

bool handleParameterListCount(RequestContext& request) {
    const std::u16string interfaceName = toUtf16(getJsonString(request.json, "INTERFACE"));
    const std::u16string deviceName = toUtf16(getJsonString(request.json, "DEVICENAME"));
    const std::u16string station = toUtf16(getJsonString(request.json, "STATION"));
    kelvane::TUnitData*& selection = request.client.selectedUnit;
    const auto devices = request.server.devices();
    for (const _TDeviceInfo& entry : *devices) {
        if (matches(entry, interfaceName, deviceName, station) && entry.Unit != selection) {
            selectUnit(*entry.Unit, selection);
            break;
        }
    }
    if (selection == nullptr) {
        return false;
    }
    beginUnitAnswer(request.answer, *selection);
    request.answer.key("COUNT");
    request.answer.writer().Int(parameterCount(*selection));
    request.answer.writer().EndObject();
    return true;
}

bool handleParameterList(RequestContext& request) {
    DAQ_TRACE(kTraceInfo, "ParameterList", kTraceFile, "[TCP_SERVER]ps_id : PARAMETERLIST");
    const auto [start, size] = readPage(request.json, "ParameterList");
    getJsonString(request.json, "PARAMINDEX");  // read, as the protocol defines it; not used
    const kelvane::TUnitData* unit = request.client.selectedUnit;
    if (unit == nullptr) {
        return false;
    }
    DAQ_TRACE(kTraceInfo, "ParameterList", kTraceFile, "[TCP_SERVER] : start[%d], size[%d]", start,
              size);
    Answer& answer = request.answer;
    beginUnitAnswer(answer, *unit);
    if (connectState(*unit) == 1) {
        const int32_t count = parameterCount(*unit);
        const int64_t end = std::min<int64_t>(int64_t{start} + size, count);
        answer.key("LIST");
        answer.writer().StartArray();
        for (int64_t i = std::max(start, 0); i < end; ++i) {
            const kelvane::TPropValue* parameter = unitParameter(*unit, static_cast<int32_t>(i));
            if (parameter != nullptr && paramTypeGroup(parameter->PropType) != ParamGroup::Hidden) {
                writeListEntry(answer, *parameter, static_cast<int32_t>(i));
            }
        }
        answer.writer().EndArray();
    }
    answer.writer().EndObject();
    return true;
}

bool handleParameterDetail(RequestContext& request) {
    DAQ_TRACE(kTraceInfo, "ParameterDetail", kTraceFile, "DAQServer Rx : %s",
              traceText(request.text).c_str());
    const kelvane::TUnitData* unit = request.client.selectedUnit;
    if (unit == nullptr) {
        return false;
    }
    const std::optional<int32_t> found = readInteger(request.json, "PARAMINDEX", std::nullopt);
    const kelvane::TPropValue* parameter = found ? unitParameter(*unit, *found) : nullptr;
    if (parameter == nullptr) {
        DAQ_TRACE(kTraceError, "ParameterDetail", kTraceFile,
                  "PARAMETERDETAIL : no parameter %s among the unit's %d",
                  traceText(getJsonString(request.json, "PARAMINDEX")).c_str(),
                  parameterCount(*unit));
        return false;
    }
    const int32_t index = *found;
    Answer& answer = request.answer;
    auto& writer = answer.begin();
    writer.StartObject();
    answer.key("PS_ID");
    writer.Bool(true);
    answer.key("PARAMNAME");
    writer.Bool(true);
    answer.key("PROPTYPE");
    writer.Int(parameter->PropType);
    queryParamGroup(*unit, index);
    answer.key("ISGROUP");
    writer.Bool(true);
    if (const kelvane::TParamRange* range = paramRange(*unit, *parameter, index)) {
        answer.key("MINRANGE");
        answer.string(formatFixed(range->Minimum, range->Decimals).view());
        answer.key("MAXRANGE");
        answer.string(formatFixed(range->Maximum, range->Decimals).view());
    }
    if (parameter->Items != nullptr) {
        answer.key("VALUE");
        writer.Int(parameter->ItemIndex);
        answer.key("PARAMITEM");
        writer.StartArray();
        const int32_t count = itemCount(parameter->Items);
        for (int32_t k = 0; k < count; ++k) {
            writer.StartObject();
            answer.key("VALUE");
            answer.string(std::to_string(k));
            answer.member("TEXT", itemText(parameter->Items, k));
            writer.EndObject();
        }
        writer.EndArray();
    } else {
        answer.key("VALUE");
        writer.Bool(true);
    }
    writer.EndObject();
    return true;
}

bool handleDaqStatus(RequestContext& request) {
    std::string_view status;
    switch (request.server.daqStatus()) {
        case 0:  // clients know no text of its own for a server that is not connected
        case 2:
            status = "RUNNING";
            break;
        case 1:
            status = "CONNECTED";
            break;
        default:
            break;
    }
    Answer& answer = request.answer;
    answer.begin().StartObject();
    answer.key("PS_ID");
    answer.writer().Bool(true);
    answer.key("STATUS");
    answer.string(status);
    answer.writer().EndObject();
    return true;
}

bool handleDaqPermission(RequestContext&) {
    DAQ_TRACE(kTraceInfo, "DAQPermission", kTraceFile,
              "[TCP_SERVER:FormTray]ps_id : DAQPERMISSION");
    return false;
}

}  // namespace daq::protocol
