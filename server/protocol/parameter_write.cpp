#include "server/protocol/parameter_write.h"

#include <stdexcept>
#include <string>

#include "common/TextConvert.h"
#include "server/protocol/json_request.h"
#include "server/protocol/request_values.h"
#include "server/protocol/trace_text.h"
#include "server/protocol/unit_commands.h"
#include "trace/Trace.h"

namespace daq::protocol {

namespace {

constexpr const char* kTraceFile = "parameter_write.cpp";

constexpr const char* kOperation = "setParamWrite";

// The item shortcut; true when it wrote the new item number itself.
bool writeOwnItem(kelvane::TUnitData& unit, kelvane::TPropValue& parameter, int32_t index,
                  std::string_view value) {
    const int32_t previous = parameter.ItemIndex;
    const int32_t present = toInteger(value);
    DAQ_TRACE(kTraceInfo, kOperation, kTraceFile, "Prev Item Val : %d, Present Item Val : %d",
              previous, present);
    if (previous == present) {
        return false;
    }
    parameter.ItemIndex = present;
    unit.Pinz->PropertyChange(&parameter, index, kelvane::pcValueChanged, nullptr);
    return true;
}

void writeThroughUnit(kelvane::TUnitData& unit, const kelvane::TPropValue& parameter, int32_t index,
                      int32_t group, std::string_view value) {
    const auto* writer = static_cast<const kelvane::TParamWriteEvent*>(
        sendParamCommand(unit, ucParamWriter, index).data);
    if (writer == nullptr || !*writer) {
        return;
    }
    int32_t item = 0;
    switch (paramTypeGroup(parameter.PropType)) {
        case ParamGroup::Text:
            item = -1;
            break;
        case ParamGroup::Item:
            item = toInteger(value);
            break;
        case ParamGroup::Hidden:
        case ParamGroup::Other:
            return;
    }
    const std::u16string text = toUtf16(value);
    kelvane::TVariant variant{};
    variant.Type = kelvane::TVariant::vtString;
    variant.String = text.c_str();
    (*writer)(group, index, &variant, item);
}

}  // namespace

bool setParamWrite(kelvane::TUnitData& unit, int32_t index, int32_t group, std::string_view value) {
    try {
        kelvane::TPropValue* parameter = unitParameter(unit, index);
        if (parameter == nullptr) {
            throw std::out_of_range("parameter " + std::to_string(index) +
                                    " is not among the unit's " +
                                    std::to_string(parameterCount(unit)));
        }
        const int32_t answer = paramGroup(unit, index);
        const bool grouped = answer >= 0;
        if (grouped && answer == index && parameter->Items != nullptr &&
            writeOwnItem(unit, *parameter, index, value)) {
            return true;
        }
        writeThroughUnit(unit, *parameter, index, grouped ? group : -1, value);
        return true;
    } catch (const std::exception& error) {
        DAQ_TRACE(kTraceError, kOperation, kTraceFile,
                  "TCP/IP DAQ Server Parameter Write error : %s", error.what());
        return false;
    }
}

bool handleParameterWrite(RequestContext& request) {
    DAQ_TRACE(kTraceInfo, "ParameterWrite", kTraceFile, "DAQServer Rx : %s",
              traceText(request.text).c_str());
    kelvane::TUnitData* unit = request.client.selectedUnit;
    if (unit == nullptr) {
        return false;
    }
    std::string_view result = "FAILED";
    std::string_view code = "-2";
    if (request.client.writePermission) {
        const int32_t group = readInteger(request.json, "GROUPINDEX");
        const int32_t index = readInteger(request.json, "PARAMINDEX");
        const std::string value = getJsonString(request.json, "VALUE");
        const bool written = setParamWrite(*unit, index, group, value);
        result = written ? "OK" : "FAILED";
        code = written ? "0" : "-1";
    }
    Answer& answer = request.answer;
    answer.begin().StartObject();
    answer.key("PS_ID");
    answer.writer().Bool(true);
    answer.key("RESULT");
    answer.string(result);
    answer.key("RESULT");
    answer.string(code);
    answer.writer().EndObject();
    return true;
}

}  // namespace daq::protocol
