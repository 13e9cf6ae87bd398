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
    std::string projectName;
    std::string company;
    std::string worker;
    std::string description;
    bool operator==(const ProjectInfo&) const = default;
};

struct NamedValue {
    std::string name;
    int32_t value = 0;
    bool operator==(const NamedValue&) const = default;
};

// How the simulator moves a tag's value.
enum class DriveKind { Constant, Sine, Ramp, RandomWalk, Cycle, Text };

struct ValueDrive {
    DriveKind kind = DriveKind::Constant;
    int32_t scanMs = 1000;              // a new value this often
    double minimum = 0.0;               // sine, ramp, random walk
    double maximum = 100.0;             // sine, ramp, random walk
    int32_t periodMs = 60000;           // sine, ramp
    double step = 1.0;                  // random walk: largest change per scan
    double value = 0.0;                 // constant
    std::string text;                   // constant value text (text tags)
    std::vector<std::string> messages;  // text: shown in turn
    bool operator==(const ValueDrive&) const = default;
};

struct TagSpec {
    int32_t id = 0;
    std::string name;
    std::optional<kelvane::TGuid> guid;
    int32_t sigType = kelvane::stNumeric;
    std::vector<NamedValue> values;
    int32_t rw = 0;
    std::string unit;
    std::string description;
    int32_t dataType = 0;
    int32_t decimals = 0;
    ValueDrive drive;
    bool operator==(const TagSpec& other) const;
};

// A node of the IO tree: a group (no Tag, children) or a tag (Tag, no children).
struct IoNode {
    std::string name;  // group name; a tag's node shows the tag name
    std::optional<TagSpec> tag;
    std::vector<IoNode> children;
    bool operator==(const IoNode&) const = default;
};

// Check states of the host's tree nodes. Only Checked counts as checked for the plug-in.
enum class CheckState : int32_t { Unchecked = 0, Checked = 2, Pressed = 3, Disabled = 7 };

enum class UnitKind { Interface, Station, Device };

// What a unit answers to the group command (106) for one parameter.
struct GroupAnswer {
    enum Mode { Self, Given, Ignore } kind = Self;
    int32_t index = 0;  // Given: this index (may be negative)
    bool operator==(const GroupAnswer&) const = default;
};

enum class WriterMode { Normal, Raises, None };

struct ParamRangeSpec {
    bool valid = true;
    double minimum = 0.0;
    double maximum = 0.0;
    int32_t decimals = 0;
    bool operator==(const ParamRangeSpec&) const = default;
};

struct ParameterSpec {
    std::string name;
    int32_t propType = 0;
    std::string valueText;
    std::string unitText;
    int32_t itemIndex = 0;
    bool enabled = true;
    std::optional<std::vector<std::string>> items;  // absent: the parameter has no item list
    std::optional<ParamRangeSpec> range;            // absent: the range record says "not valid"
    GroupAnswer group;
    WriterMode writer = WriterMode::Normal;
    bool operator==(const ParameterSpec&) const = default;
};

// Parent unit reference: the tree parent's unit, none, or a unit named by its key.
struct ParentRef {
    enum Mode { TreeParent, None, ByKey } kind = TreeParent;
    std::string key;
    bool operator==(const ParentRef&) const = default;
};

struct UnitSpec {
    UnitKind kind = UnitKind::Station;
    std::string key;  // optional; how other units name this one as their parent unit
    uint64_t unitId = 0;
    int32_t pinKind = 0;
    std::string stationName;                // stations only
    std::optional<std::string> deviceName;  // absent: no device record
    int32_t deviceKind = 0;
    std::optional<std::string> info;  // model name (station, device), description (interface)
    std::optional<std::string> extra;
    CheckState check = CheckState::Checked;
    int32_t connectState = 1;
    int32_t offlineEveryMs = 0;  // the simulator takes the unit offline this often (0: never)
    int32_t offlineForMs = 0;    // ... for this long
    ParentRef parent;
    bool hasUnitData = true;  // false: the tree node carries no unit record
    bool hasPinz = true;      // false: the unit record has no plug-in object
    std::vector<ParameterSpec> parameters;
    std::vector<UnitSpec> children;
    bool operator==(const UnitSpec&) const = default;
};

struct UserSpec {
    std::string id;
    std::string hash;  // crypt(3) hash of the password
    bool mayWrite = false;
    bool operator==(const UserSpec&) const = default;
};

struct MapOptions {
    bool openFails = false;
    bool operator==(const MapOptions&) const = default;
};

struct Project {
    ProjectInfo info;
    std::vector<IoNode> ioTree;
    std::vector<UnitSpec> systemTree;
    std::vector<UserSpec> users;
    MapOptions map;
    bool operator==(const Project&) const = default;
};

// Pin kind a unit gets when the project does not say.
int32_t defaultPinKind(UnitKind kind);

}  // namespace host
