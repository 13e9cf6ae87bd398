// One request as its handler sees it, and the handler's signature.
#pragma once

#include <string_view>

#include <rapidjson/document.h>

#include "server/protocol/Answer.h"
#include "server/protocol/ClientState.h"
#include "server/protocol/ServerState.h"

namespace daq::protocol {

// Source file named in the location of the traces of the server's own operations (connect, the
// receive pass, send, the client and device lists); each request handler names its own file.
inline constexpr const char* kServerTraceFile = "FormTray.cpp";

struct RequestContext {
    ServerState& server;
    ClientState& client;
    // The parsed message; a null value when it did not parse.
    const rapidjson::Value& json;
    // The message as received (UTF-8), quoted by some traces.
    std::string_view text;
    Answer& answer;
};

// Handles one request; true when it wrote an answer to send, false when the request ends
// without one. Errors are thrown (std::exception) and end the request without an answer.
using RequestHandler = bool (*)(RequestContext& request);

}  // namespace daq::protocol
