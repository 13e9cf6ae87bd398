// The host's project as read from a project file: what the host knows about the plant, before it
// is turned into the records plug-ins read. Texts are UTF-8.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "kelvane/IORecords.h"

namespace host {

struct ProjectInfo {
    std::string ProjectName;
    std::string Company;
    std::string Worker;
    std::string Description;
    bool operator==(const ProjectInfo&) const = default;
};

struct NamedValue {
    std::string Name;
    int32_t Value = 0;
    bool operator==(const NamedValue&) const = default;
};

// How the simulator moves a tag's value.
enum class DriveKind { Constant, Sine, Ramp, RandomWalk, Cycle, Text };

struct ValueDrive {
    DriveKind Kind = DriveKind::Constant;
    int32_t ScanMs = 1000;              // a new value this often
    double Minimum = 0.0;               // sine, ramp, random walk
    double Maximum = 100.0;             // sine, ramp, random walk
    int32_t PeriodMs = 60000;           // sine, ramp
    double Step = 1.0;                  // random walk: largest change per scan
    double Value = 0.0;                 // constant
    std::string Text;                   // constant value text (text tags)
    std::vector<std::string> Messages;  // text: shown in turn
    bool operator==(const ValueDrive&) const = default;
};

struct TagSpec {
    int32_t Id = 0;
    std::string Name;
    std::optional<kelvane::TGuid> Guid;
    int32_t SigType = kelvane::stNumeric;
    std::vector<NamedValue> Values;
    int32_t RW = 0;
    std::string Unit;
    std::string Description;
    int32_t DataType = 0;
    int32_t Decimals = 0;
    ValueDrive Drive;
    bool operator==(const TagSpec& other) const;
};

// A node of the IO tree: a group (no Tag, children) or a tag (Tag, no children).
struct IoNode {
    std::string Name;  // group name; a tag's node shows the tag name
    std::optional<TagSpec> Tag;
    std::vector<IoNode> Children;
    bool operator==(const IoNode&) const = default;
};

// Check states of the host's tree nodes. Only Checked counts as checked for the plug-in.
enum class CheckState : int32_t { Unchecked = 0, Checked = 2, Pressed = 3, Disabled = 7 };

enum class UnitKind { Interface, Station, Device };

// What a unit answers to the group command (106) for one parameter.
struct GroupAnswer {
    enum Mode { Self, Given, Ignore } Kind = Self;
    int32_t Index = 0;  // Given: this index (may be negative)
    bool operator==(const GroupAnswer&) const = default;
};

enum class WriterMode { Normal, Raises, None };

struct ParamRangeSpec {
    bool Valid = true;
    double Minimum = 0.0;
    double Maximum = 0.0;
    int32_t Decimals = 0;
    bool operator==(const ParamRangeSpec&) const = default;
};

struct ParameterSpec {
    std::string Name;
    int32_t PropType = 0;
    std::string ValueText;
    std::string UnitText;
    int32_t ItemIndex = 0;
    bool Enabled = true;
    std::optional<std::vector<std::string>> Items;  // absent: the parameter has no item list
    std::optional<ParamRangeSpec> Range;            // absent: the range record says "not valid"
    GroupAnswer Group;
    WriterMode Writer = WriterMode::Normal;
    bool operator==(const ParameterSpec&) const = default;
};

// Parent unit reference: the tree parent's unit, none, or a unit named by its key.
struct ParentRef {
    enum Mode { TreeParent, None, ByKey } Kind = TreeParent;
    std::string Key;
    bool operator==(const ParentRef&) const = default;
};

struct UnitSpec {
    UnitKind Kind = UnitKind::Station;
    std::string Key;  // optional; how other units name this one as their parent unit
    uint64_t UnitId = 0;
    int32_t PinKind = 0;
    std::string StationName;                // stations only
    std::optional<std::string> DeviceName;  // absent: no device record
    int32_t DeviceKind = 0;
    std::optional<std::string> Info;  // model name (station, device), description (interface)
    std::optional<std::string> Extra;
    CheckState Check = CheckState::Checked;
    int32_t ConnectState = 1;
    int32_t OfflineEveryMs = 0;  // the simulator takes the unit offline this often (0: never)
    int32_t OfflineForMs = 0;    // ... for this long
    ParentRef Parent;
    bool HasUnitData = true;  // false: the tree node carries no unit record
    bool HasPinz = true;      // false: the unit record has no plug-in object
    std::vector<ParameterSpec> Parameters;
    std::vector<UnitSpec> Children;
    bool operator==(const UnitSpec&) const = default;
};

struct UserSpec {
    std::string Id;
    std::string Hash;  // crypt(3) hash of the password
    bool MayWrite = false;
    bool operator==(const UserSpec&) const = default;
};

struct MapOptions {
    bool OpenFails = false;
    bool operator==(const MapOptions&) const = default;
};

struct Project {
    ProjectInfo Info;
    std::vector<IoNode> IoTree;
    std::vector<UnitSpec> SystemTree;
    std::vector<UserSpec> Users;
    MapOptions Map;
    bool operator==(const Project&) const = default;
};

// Pin kind a unit gets when the project does not say.
int32_t DefaultPinKind(UnitKind kind);

}  // namespace host
