// A probe plug-in for the host's tests: records what the host hands over and in which order.
// Each call is appended as one line to the file named by HOST_PROBE_LOG (when set), so that
// tests see the whole run, also after the host has unloaded the library; while loaded, command
// kProbeRecordCode answers Data = the ProbeRecord below.
#pragma once

#include <cstdint>

#include "kelvane/HostTree.h"
#include "kelvane/Pinz.h"
#include "kelvane/ReadMapFile.h"
#include "kelvane/SystemRecords.h"

class QWidget;

inline constexpr int32_t kProbeRecordCode = 9999;
// HOST_PROBE_FAIL=<call> makes that call raise std::runtime_error (e.g. "Connect").
inline constexpr const char* kProbeFailVariable = "HOST_PROBE_FAIL";
inline constexpr const char* kProbeLogVariable = "HOST_PROBE_LOG";

struct ProbeRecord {
    int32_t enableFlag = -1;
    kelvane::IHostTree* ioTree = nullptr;
    kelvane::THostSystem* system = nullptr;
    kelvane::TProjectRecord* project = nullptr;
    kelvane::IXMLNode* language = nullptr;
    kelvane::TActivateEvent activeChange{};
    QWidget* serverParent = nullptr;
    QWidget* infoParent = nullptr;
    int32_t openResult = -1;
    kelvane::TReadMapFile map;
};
