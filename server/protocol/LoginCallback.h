// The host's login check and how the server asks it.
#pragma once

#include <optional>
#include <string_view>

#include "kelvane/Pinz.h"

namespace daq::protocol {

// Installed by the host with command 111; called with the login command (code 112).
using kelvane::TLoginEvent;

struct LoginAnswer {
    bool accepted = false;
    bool mayWrite = false;  // meaningful only when accepted
};

// Asks the host synchronously whether `id` and `password` (UTF-8) may log in. A callback that
// is not installed refuses, and so does an id or a password holding U+0000 (without asking).
LoginAnswer checkLogin(const TLoginEvent& callback, std::string_view id, std::string_view password);

}  // namespace daq::protocol
