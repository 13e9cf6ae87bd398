// "LOGIN", "ALIVE", "PROJECTINFO" and the stop notice.
#pragma once

#include <string_view>

#include "server/protocol/Request.h"

namespace daq::protocol {

// Asks the host; an accepted login sets this connection's write permission and queues the
// user row, event and popup; a refused one queues a "Login Fail" event. Answers "RESULT" true
// or false.
bool handleLogin(RequestContext& request);
// "TIME": the local date and time as "yyyy.mm.dd hh:nn.ss.zzz".
bool handleAlive(RequestContext& request);
// "INFO" from the host's project record; an error without it.
bool handleProjectInfo(RequestContext& request);

// {"PS_ID":true}: written unframed to every logged-in connection when the server stops.
std::string_view stopNotice();

}  // namespace daq::protocol
