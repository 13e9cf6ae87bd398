// The commands on a device's parameters: params, write.
#include "tools/daqclient/Commands.h"

#include <algorithm>

#include "server/protocol/JsonRequest.h"
#include "tools/daqclient/Devices.h"

namespace daqclient {

namespace {

using daq::protocol::findJsonPath;
using daq::protocol::getJsonString;

// Parameters asked for with one "PARAMETERLIST".
constexpr int kParamPageSize = 1000;

struct SelectedUnit {
    Device device;
    std::string state;  // the unit's connect state
    int count = 0;      // parameters, hidden ones included
};

SelectedUnit selectUnit(ServerLink& link, const UnitFilter& filter) {
    SelectedUnit unit{findDevice(fetchDevices(link), filter), {}, 0};
    const auto answer = selectDevice(link, unit.device);
    const auto* count = findJsonPath(answer, "COUNT");
    if (count == nullptr || !count->IsInt()) {
        throw CommandError(ExitCode::Failure, "bad answer to PARAMETERLISTCOUNT: no COUNT");
    }
    unit.state = getJsonString(answer, "STATE");
    unit.count = count->GetInt();
    return unit;
}

std::string itemList(const rapidjson::Value& answer) {
    const auto* items = findJsonPath(answer, "PARAMITEM");
    if (items == nullptr || !items->IsArray()) {
        return {};
    }
    std::string text;
    for (const auto& item : items->GetArray()) {
        if (item.IsObject()) {
            text += (text.empty() ? "" : "; ") + getJsonString(item, "VALUE") + "=" +
                    getJsonString(item, "TEXT");
        }
    }
    return text;
}

void printDetail(ServerLink& link, Output& out, const SelectedUnit& unit, int index) {
    if (index < 0 || index >= unit.count) {
        throw CommandError(ExitCode::Failure, "station \"" + unit.device.station +
                                                  "\" has no parameter " + std::to_string(index) +
                                                  " (it has " + std::to_string(unit.count) + ")");
    }
    const auto answer = link.request(daq::client::parameterDetailRequest(index), "PARAMETERDETAIL");
    out.print({{value("index"), value("type"), value("min"), value("max"), value("value"), "items"},
               {{std::to_string(index), getJsonString(answer, "PROPTYPE"),
                 getJsonString(answer, "MINRANGE"), getJsonString(answer, "MAXRANGE"),
                 getJsonString(answer, "VALUE"), itemList(answer)}},
               true});
}

void printList(ServerLink& link, Output& out, const SelectedUnit& unit) {
    if (unit.state != "1") {
        throw CommandError(ExitCode::Failure,
                           "station \"" + unit.device.station + "\" is not connected (state " +
                               unit.state + "): the server lists its parameters only while it is");
    }
    Table table{{value("index"), value("type"), value("value"), flag("enabled")}, {}, false};
    for (int start = 0; start < unit.count; start += kParamPageSize) {
        const int size = std::min(kParamPageSize, unit.count - start);
        const auto answer =
            link.request(daq::client::parameterListRequest(start, size), "PARAMETERLIST");
        const auto* list = findJsonPath(answer, "LIST");
        if (list == nullptr || !list->IsArray()) {
            throw CommandError(ExitCode::Failure,
                               "station \"" + unit.device.station +
                                   "\" went offline while its parameters were read");
        }
        for (const auto& entry : list->GetArray()) {
            if (entry.IsObject()) {
                table.rows.push_back({getJsonString(entry, "PARAMINDEX"),
                                      getJsonString(entry, "PROPTYPE"),
                                      getJsonString(entry, "VALUE"),
                                      findJsonPath(entry, "PARAMETERTYPE") ? "yes" : "no"});
            }
        }
    }
    out.print(table);
}

}  // namespace

void runParams(ServerLink& link, Output& out, const ParamsOptions& options) {
    const SelectedUnit unit = selectUnit(link, options.unit);
    if (options.detail) {
        printDetail(link, out, unit, *options.detail);
    } else {
        printList(link, out, unit);
    }
}

void runWrite(ServerLink& link, Output& out, const WriteOptions& options) {
    selectUnit(link, options.unit);
    const auto answer = link.request(
        daq::client::parameterWriteRequest(options.group, options.index, options.value),
        "PARAMETERWRITE");
    // The answer carries "RESULT" twice: the result text, then the code.
    std::vector<std::string> results;
    for (const auto& member : answer.GetObject()) {
        if (std::string_view(member.name.GetString()) == "RESULT") {
            results.push_back(daq::protocol::jsonValueText(member.value));
        }
    }
    if (results.size() != 2) {
        throw CommandError(ExitCode::Failure,
                           "bad answer to PARAMETERWRITE: " + std::to_string(results.size()) +
                               " RESULT members instead of 2");
    }
    out.print({{"result", value("code")}, {{results[0], results[1]}}, true});
    const std::string& code = results[1];
    if (code == "-2") {
        throw CommandError(ExitCode::WriteNotPermitted,
                           "write not permitted (FAILED, -2): this connection has no login that "
                           "may write; log in with -u as such a user");
    }
    if (code == "-1") {
        throw CommandError(ExitCode::WriteFailed,
                           "write failed (FAILED, -1): the unit did not take the value");
    }
    if (code != "0") {
        throw CommandError(ExitCode::Failure,
                           "unexpected PARAMETERWRITE answer: " + results[0] + ", " + code);
    }
}

}  // namespace daqclient
