// Translation of the platform's socket error codes into Windows Sockets codes.
#pragma once

#include <string_view>
#include <system_error>

#include "server/tcp/SocketError.h"

namespace daq::tcp {

// ECONNRESET gives 10054, EADDRINUSE 10048 and so on for every error Windows Sockets names;
// other system errors give 10000 + errno, resolver errors their 11001..11004 codes.
int winsockCode(const std::error_code& error);

// A SocketError for `error`, its message prefixed with what was being done.
SocketError toSocketError(const std::error_code& error, std::string_view context);

}  // namespace daq::tcp
