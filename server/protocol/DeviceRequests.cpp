#include "server/protocol/DeviceRequests.h"

#include <stdexcept>
#include <string>

#include "kelvane/Text.h"
#include "server/protocol/UnitCommands.h"
#include "trace/Trace.h"

namespace daq::protocol {

namespace {

constexpr const char* kTraceFile = "DeviceRequests.cpp";

void writeDevice(Answer& answer, const _TDeviceInfo& entry) {
    const kelvane::TUnitData& unit = *entry.Unit;
    if (unit.Device == nullptr) {
        throw std::runtime_error("the unit has no device record");
    }
    auto& writer = answer.writer();
    writer.StartObject();
    answer.member("INTERFACE", entry.Interface);
    answer.member("DEVICENAME", kelvane::RefText(unit.Device->DeviceName));
    answer.member("MODELNAME", kelvane::RefText(unit.Info));
    answer.member("STATION", kelvane::FieldText(unit.UnitName));
    answer.key("CONNECTSTATE");
    answer.string(std::to_string(connectState(unit)));
    writer.EndObject();
}

}  // namespace

bool handleDeviceList(RequestContext& request) {
    DAQ_TRACE(kTraceInfo, "DeviceList", kTraceFile, "[TCP_SERVER:FormTray]ps_id : DEVICELIST");
    const auto devices = request.server.devices();
    Answer& answer = request.answer;
    try {
        answer.begin().StartObject();
        answer.key("PS_ID");
        answer.writer().Bool(true);
        answer.key("LIST");
        answer.writer().StartArray();
        for (const _TDeviceInfo& entry : *devices) {
            writeDevice(answer, entry);
        }
        answer.writer().EndArray();
        answer.writer().EndObject();
    } catch (const std::exception& error) {
        DAQ_TRACE(kTraceError, "DeviceList", kTraceFile, "Device Info Error : %s", error.what());
        return false;
    }
    return true;
}

}  // namespace daq::protocol
