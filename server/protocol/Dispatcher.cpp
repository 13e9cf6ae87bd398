#include "server/protocol/Dispatcher.h"

#include <array>

#include "server/protocol/DeviceRequests.h"
#include "server/protocol/IoRequests.h"
#include "server/protocol/LoginRequests.h"
#include "server/protocol/ParameterRequests.h"
#include "server/protocol/ParameterWrite.h"

namespace daq::protocol {

namespace {

constexpr std::array<RequestRoute, 15> kRoutes{{
    {"LOGIN", handleLogin},
    {"PROJECTINFO", handleProjectInfo},
    {"MYSYSTEM", nullptr},
    {"IOLIST", nullptr},
    {"DAQLISTCOUNT", handleDaqListCount},
    {"DAQLIST", handleDaqList, false},
    {"DAQ_DATA", handleDaqData, false},
    {"ALIVE", handleAlive},
    {"DEVICELIST", handleDeviceList},
    {"PARAMETERLISTCOUNT", handleParameterListCount},
    {"PARAMETERLIST", handleParameterList},
    {"PARAMETERDETAIL", handleParameterDetail},
    {"DAQSTATUS", handleDaqStatus},
    {"DAQPERMISSION", handleDaqPermission},
    {"PARAMETERWRITE", handleParameterWrite},
}};

}  // namespace

std::span<const RequestRoute> requestRoutes() {
    return kRoutes;
}

const RequestRoute* findRoute(std::string_view psId) {
    for (const RequestRoute& route : kRoutes) {
        if (psId.find(route.id) != std::string_view::npos) {
            return &route;
        }
    }
    return nullptr;
}

bool dispatch(const RequestRoute* route, RequestContext& request) {
    return route != nullptr && route->handler != nullptr && route->handler(request);
}

}  // namespace daq::protocol
