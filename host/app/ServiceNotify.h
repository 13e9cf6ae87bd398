// Tells systemd how the host is doing when it runs as a service of Type=notify; does nothing
// when it was not started that way ($NOTIFY_SOCKET unset).
#pragma once

#include <string>

namespace host {

// The DAQ run has started and the plug-in's server listens.
void notifyServiceReady(const std::string& status);
// The host has begun to stop.
void notifyServiceStopping();

}  // namespace host
