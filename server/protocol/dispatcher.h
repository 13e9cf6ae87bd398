// Which request a "PS_ID" names: the first id of the table that it contains, tested in order
// and case-sensitively (so "DAQLISTCOUNT" is tested before "DAQLIST", and "XLOGINX" is a
// "LOGIN").
#pragma once

#include <span>
#include <string_view>

#include "server/protocol/request.h"

namespace daq::protocol {

struct RequestRoute {
    std::string_view id;
    RequestHandler handler;  // null: recognised, ends without an answer
};

// The dispatch table in the order of its tests.
std::span<const RequestRoute> requestRoutes();

// The route for a request id; null when none matches (the request is dropped).
const RequestRoute* findRoute(std::string_view psId);

// Runs the request; true when it wrote an answer to send.
bool dispatch(std::string_view psId, RequestContext& request);

}  // namespace daq::protocol
