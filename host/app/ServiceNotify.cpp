#include "host/app/ServiceNotify.h"

#include <systemd/sd-daemon.h>

namespace host {

void notifyServiceReady(const std::string& status) {
    // The result only says whether systemd listens; the host runs the same either way.
    sd_notifyf(0, "READY=1\nSTATUS=%s", status.c_str());
}

void notifyServiceStopping() {
    sd_notify(0, "STOPPING=1");
}

}  // namespace host
