// A null plug-in for the host's tests. Each call is appended as one line to the file named by
// HOST_PROBE_LOG, so that tests see the whole run, also after the host has unloaded the library;
// HOST_PROBE_FAIL=<call> makes that call throw std::runtime_error (e.g. "Connect"). While loaded,
// command kProbeRecordCode answers Data = the ProbeCommands the host sent, by code.
#pragma once

#include <map>

#include "kelvane/Pinz.h"

using ProbeCommands = std::map<int32_t, kelvane::TPinzCommand>;
inline constexpr int32_t kProbeRecordCode = 9999;
inline constexpr const char* kProbeFailVariable = "HOST_PROBE_FAIL";
inline constexpr const char* kProbeLogVariable = "HOST_PROBE_LOG";
