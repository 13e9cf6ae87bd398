// Which request a "PS_ID" names: the first id of the table that it contains, tested in order
// and case-sensitively (so "DAQLISTCOUNT" is tested before "DAQLIST", and "XLOGINX" is a
// "LOGIN").
#pragma once

#include <span>
#include <string_view>

#include "server/protocol/Request.h"

namespace daq::protocol {

struct RequestRoute {
    std::string_view id;
    RequestHandler handler;  // null: recognised, ends without an answer
    // Runs under the server's request lock, one request at a time across all connections.
    // False for requests that only read the IO map, each hold under the map's own lock, and
    // their own connection's state: a large list then never holds up other clients.
    bool exclusive = true;
};

// The dispatch table in the order of its tests.
std::span<const RequestRoute> requestRoutes();

// The route for a request id; null when none matches (the request is dropped).
const RequestRoute* findRoute(std::string_view psId);

// Runs the request of a route (null: none matched); true when it wrote an answer to send.
bool dispatch(const RequestRoute* route, RequestContext& request);

}  // namespace daq::protocol
