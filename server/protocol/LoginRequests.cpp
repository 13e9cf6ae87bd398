#include "server/protocol/LoginRequests.h"

#include <stdexcept>
#include <string>

#include "common/DateTime.h"
#include "common/TextConvert.h"
#include "kelvane/Text.h"
#include "server/protocol/Frame.h"
#include "server/protocol/JsonRequest.h"
#include "server/protocol/LoginCallback.h"
#include "server/protocol/TraceText.h"
#include "trace/Trace.h"

namespace daq::protocol {

namespace {

constexpr const char* kTraceFile = "LoginRequests.cpp";

}  // namespace

LoginAnswer checkLogin(const TLoginEvent& callback, std::string_view id,
                       std::string_view password) {
    // The host gets both texts zero-terminated: one holding a zero would reach it cut short.
    if (!callback || id.find('\0') != std::string_view::npos ||
        password.find('\0') != std::string_view::npos) {
        return {};
    }
    const std::u16string empty;
    const std::u16string id16 = toUtf16(id);
    const std::u16string password16 = toUtf16(password);
    kelvane::TPinzLoginUser user{};
    user.Name = empty.c_str();
    user.Id = id16.c_str();
    user.Password = password16.c_str();
    kelvane::TPinzCommand command{};
    command.Code = kelvane::kLoginCommand;
    command.Value = reinterpret_cast<uintptr_t>(&user);
    command.Text = empty.c_str();
    kelvane::_TPinzSendParam param{};
    param.Kind = kelvane::kPinzCommandKind;
    param.Command = &command;
    callback(&param);

    LoginAnswer answer;
    answer.accepted = command.Data != nullptr && (*static_cast<const uint8_t*>(command.Data) & 1);
    answer.mayWrite = answer.accepted && (user.Flags[kelvane::kLoginWriteFlag] & 1);
    return answer;
}

bool handleLogin(RequestContext& request) {
    const rapidjson::Value& json = request.json;
    getJsonString(json, "CLIENT_TYPE");  // read, as the protocol defines it; no effect
    LoginDetails details;
    details.id = getJsonString(json, "ID");
    const std::string password = getJsonString(json, "PW");
    details.os = getJsonString(json, "DEVICE.OS");
    details.osVersion = getJsonString(json, "DEVICE.VERSION");
    details.modelName = getJsonString(json, "DEVICE.MODEL NAME");
    details.location = getJsonString(json, "DEVICE.LOCATION");

    const LoginAnswer login = checkLogin(request.server.loginCallback(), details.id, password);
    if (login.accepted) {
        request.client.writePermission = login.mayWrite;
        request.client.loggedIn = true;
        request.server.loginAccepted(request.client, details);
    } else {
        ++request.client.refusedLogins;
        request.server.loginRefused(request.client, details.id);
        DAQ_TRACE(kTraceError, "LOGIN", kTraceFile, "LOGIN FAIL : %s, from %s",
                  traceText(details.id).c_str(), request.client.peerAddress.c_str());
    }
    auto& writer = request.answer.begin();
    writer.StartObject();
    request.answer.key("PS_ID");
    writer.Bool(true);
    request.answer.key("RESULT");
    writer.Bool(login.accepted);
    writer.EndObject();
    return true;
}

bool handleAlive(RequestContext& request) {
    auto& writer = request.answer.begin();
    writer.StartObject();
    request.answer.key("PS_ID");
    writer.Bool(true);
    request.answer.key("TIME");
    request.answer.string(formatAliveTime(nowDateTime()).view());
    writer.EndObject();
    return true;
}

bool handleProjectInfo(RequestContext& request) {
    const kelvane::TProjectRecord* project = request.server.project();
    if (project == nullptr) {
        throw std::runtime_error("the host has not handed over its project record");
    }
    Answer& answer = request.answer;
    auto& writer = answer.begin();
    writer.StartObject();
    answer.key("PS_ID");
    writer.Bool(true);
    answer.key("INFO");
    writer.StartObject();
    answer.member("PROJECT_NAME", kelvane::RefText(project->ProjectName));
    answer.member("COMPANY", kelvane::RefText(project->Company));
    answer.member("WORKER", kelvane::RefText(project->Worker));
    answer.member("DESCRIPTION", kelvane::RefText(project->Description));
    writer.EndObject();
    writer.EndObject();
    return true;
}

std::string_view stopNotice() {
    return kStopNotice;
}

}  // namespace daq::protocol
