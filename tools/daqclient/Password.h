// Where the password of a login comes from.
#pragma once

#include <optional>

#include "tools/daqclient/Options.h"
#include "tools/daqclient/ServerLink.h"

namespace daqclient {

inline constexpr const char* kPasswordVariable = "DAQCLIENT_PASSWORD";
// Longest password read from the terminal.
inline constexpr std::size_t kMaxPasswordBytes = 1024;

// Nothing without a user. With one, the password is taken from -P, else --askpass (read from
// the terminal without echo), else $DAQCLIENT_PASSWORD; with none of them it is a usage error.
std::optional<Credentials> resolveCredentials(const GlobalOptions& options);

}  // namespace daqclient
