// The host's system object, project record, units and devices as a plug-in reads them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kelvane/HostTree.h"

namespace kelvane {

class TPinzBase;

#pragma pack(push, 1)

// The project as the host describes it; texts owned by the host.
struct TProjectRecord {
    const char16_t* ProjectName;
    const char16_t* Company;
    const char16_t* Worker;
    const char16_t* Description;
};

// The host's system object, handed over with command 0.
struct THostSystem {
    uint8_t Reserved[32];
    TProjectRecord* Project;
    IHostTree* SystemTree;
};

// The host's record of one device.
struct TDeviceRecord {
    const char16_t* DeviceName;
    int32_t Kind;  // 2: the device is labelled by its unit's Info text
    int32_t Reserved;
};

// The host's record of one unit (interface, station or device) of the system tree.
struct TUnitData {
    TPinzBase* Pinz;
    TDeviceRecord* Device;
    uint64_t UnitId;        // passed as Value of every command sent to the unit
    char16_t UnitName[64];  // station name; empty for other units
    const char16_t* Info;   // model name of a device, description of an interface
    const char16_t* Extra;
    int32_t* ConnectState;  // owned by the host, read afresh each time
    TUnitData* ParentUnit;
};

#pragma pack(pop)

inline constexpr int32_t kInterfacePinKind = 1;

static_assert(offsetof(THostSystem, Project) == 32);
static_assert(offsetof(THostSystem, SystemTree) == 40);
static_assert(offsetof(TUnitData, UnitId) == 16);
static_assert(offsetof(TUnitData, UnitName) == 24);
static_assert(offsetof(TUnitData, Info) == 152);
static_assert(offsetof(TUnitData, ParentUnit) == 176);

}  // namespace kelvane
