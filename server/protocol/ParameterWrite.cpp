#include "server/protocol/ParameterWrite.h"

#include <charconv>
#include <cmath>
#include <optional>
#include <stdexcept>
#include <string>

#include "common/NumberFormat.h"
#include "common/TextConvert.h"
#include "server/protocol/JsonRequest.h"
#include "server/protocol/RequestValues.h"
#include "server/protocol/TraceText.h"
#include "server/protocol/UnitCommands.h"
#include "trace/Trace.h"

namespace daq::protocol {

namespace {

constexpr const char* kTraceFile = "ParameterWrite.cpp";

constexpr const char* kOperation = "setParamWrite";

[[noreturn]] void refuse(int32_t index, const std::string& reason) {
    throw std::invalid_argument("parameter " + std::to_string(index) + " " + reason);
}

// Built by appending, which GCC 12 does not misreport under -O2 (-Wrestrict).
std::string quoted(std::string_view value) {
    std::string text = "\"";
    text += traceText(value);
    text += '"';
    return text;
}

// A finite decimal number ("2.5", "-1e3"), or none.
std::optional<double> toNumber(std::string_view text) {
    double number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error != std::errc{} || end != text.data() + text.size() || !std::isfinite(number)) {
        return std::nullopt;
    }
    return number;
}

// Refuses what the parameter cannot take as it was sent (the unit would be handed something
// else, or nothing) and what its unit and record say cannot be written now. Gives the item
// index the writer is called with: the item number for the item group, -1 for the text group.
int32_t checkValue(const kelvane::TUnitData& unit, const kelvane::TPropValue& parameter,
                   int32_t index, std::string_view value) {
    if (connectState(unit) != 1) {
        refuse(index, "cannot be written: its unit is not connected");
    }
    if (!(parameter.Enabled & 1)) {
        refuse(index, "cannot be written: it is disabled");
    }
    // The unit gets the text zero-terminated: it would end at the first zero.
    if (value.find('\0') != std::string_view::npos) {
        refuse(index, "cannot hold a text with a zero character");
    }
    switch (paramTypeGroup(parameter.PropType)) {
        case ParamGroup::Item: {
            const std::optional<int32_t> item = toInteger(value);
            const int32_t count = itemCount(parameter.Items);
            if (!item || *item < 0 || *item >= count) {
                refuse(index, "has no item " + quoted(value) + " among its " +
                                  std::to_string(count) + " items");
            }
            return *item;
        }
        case ParamGroup::Text:
            if (hasParamRange(parameter.PropType)) {
                const std::optional<double> number = toNumber(value);
                if (!number) {
                    refuse(index, "takes a number, not " + quoted(value));
                }
                const kelvane::TParamRange* range = paramRange(unit, parameter, index);
                if (range != nullptr && !(*number >= range->Minimum && *number <= range->Maximum)) {
                    refuse(index,
                           "takes " +
                               std::string(formatFixed(range->Minimum, range->Decimals).view()) +
                               " to " +
                               std::string(formatFixed(range->Maximum, range->Decimals).view()) +
                               ", not " + quoted(value));
                }
            }
            return -1;
        case ParamGroup::Hidden:
        case ParamGroup::Other:
            break;
    }
    refuse(index, "of type " + std::to_string(parameter.PropType) + " takes no value");
}

// The item shortcut; true when it wrote the new item number itself.
bool writeOwnItem(kelvane::TUnitData& unit, kelvane::TPropValue& parameter, int32_t index,
                  int32_t item) {
    const int32_t previous = parameter.ItemIndex;
    DAQ_TRACE(kTraceInfo, kOperation, kTraceFile, "Prev Item Val : %d, Present Item Val : %d",
              previous, item);
    if (previous == item) {
        return false;
    }
    parameter.ItemIndex = item;
    unit.Pinz->PropertyChange(&parameter, index, kelvane::pcValueChanged, nullptr);
    return true;
}

void writeThroughUnit(kelvane::TUnitData& unit, int32_t index, int32_t group,
                      std::string_view value, int32_t item) {
    const auto* writer = static_cast<const kelvane::TParamWriteEvent*>(
        sendParamCommand(unit, ucParamWriter, index).data);
    if (writer == nullptr || !*writer) {
        refuse(index, "cannot be written: its unit gives no writer for it");
    }
    const std::u16string text = toUtf16(value);
    kelvane::TVariant variant{};
    variant.Type = kelvane::TVariant::vtString;
    variant.String = text.c_str();
    (*writer)(group, index, &variant, item);
}

struct Write {
    int32_t index = 0;
    int32_t group = 0;
    std::string value;
};

// The request's parameter index (no default: without one it names no parameter), group
// (default 0) and value (a JSON string or number; default empty); none, after a trace, when one
// of them is not what it must be.
std::optional<Write> readWrite(const rapidjson::Value& request) {
    const std::optional<int32_t> index = readInteger(request, "PARAMINDEX", std::nullopt);
    const std::optional<int32_t> group = readInteger(request, "GROUPINDEX");
    const rapidjson::Value* value = findJsonPath(request, "VALUE");
    const bool valueIsText = value == nullptr || value->IsString();  // numbers are kept as text
    if (index && group && valueIsText) {
        return Write{*index, *group, getJsonString(request, "VALUE")};
    }
    DAQ_TRACE(kTraceError, kOperation, kTraceFile, "TCP/IP DAQ Server Parameter Write error : %s",
              !index   ? "PARAMINDEX is not an integer"
              : !group ? "GROUPINDEX is not an integer"
                       : "VALUE is not a text or a number");
    return std::nullopt;
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
        const int32_t item = checkValue(unit, *parameter, index, value);
        const int32_t answer = paramGroup(unit, index);
        const bool grouped = answer >= 0;
        // Only an item number (item group, so the parameter has items) takes the shortcut.
        if (item >= 0 && grouped && answer == index &&
            writeOwnItem(unit, *parameter, index, item)) {
            return true;
        }
        writeThroughUnit(unit, index, grouped ? group : -1, value, item);
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
        const std::optional<Write> write = readWrite(request.json);
        const bool written =
            write && setParamWrite(*unit, write->index, write->group, write->value);
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
