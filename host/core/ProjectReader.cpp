// Reads the project out of a project document, checking every value and bound on the way.
#include <crypt.h>

#include <charconv>
#include <cmath>
#include <initializer_list>
#include <set>
#include <string_view>

#include "FileError.h"
#include "GuidText.h"
#include "ProjectFile.h"
#include "Utf16.h"

namespace host {

namespace {

using namespace std::string_literals;

// Longest texts the fixed fields of the host records hold (with their terminating zero).
constexpr std::size_t kStationNameUnits = 63;
constexpr std::size_t kParamNameUnits = 63;
constexpr std::size_t kParamValueUnits = 127;
constexpr std::size_t kParamUnitUnits = 31;

class Reader {
  public:
    Reader(const XmlSource& source, const ProjectLimits& limits)
        : source_(source), limits_(limits) {}

    Project Read() {
        const pugi::xml_node root = source_.Document().document_element();
        if (std::string_view(root.name()) != kProjectRoot) {
            Fail(root,
                 "expected the root element <"s + kProjectRoot + ">, found <" + root.name() + ">");
        }
        Attributes(root, {"format"});
        if (IntAttribute(root, "format", 1, 1, 1) != 1) {
            Fail(root, "unsupported format");
        }
        Project project;
        // A second section would silently replace the first (its users, its tree).
        std::set<std::string_view> sections;
        for (pugi::xml_node section : root.children()) {
            if (section.type() != pugi::node_element) {
                continue;
            }
            const std::string_view name = section.name();
            if (!sections.insert(name).second) {
                Fail(section, "<"s + section.name() + "> appears twice; a project has one");
            }
            if (name == "project") {
                project.Info = ReadInfo(section);
            } else if (name == "map") {
                Attributes(section, {"open-fails"});
                project.Map.OpenFails = BoolAttribute(section, "open-fails", false);
            } else if (name == "users") {
                project.Users = ReadUsers(section);
            } else if (name == "io-tree") {
                Attributes(section, {});
                project.IoTree = ReadIoChildren(section, 1);
            } else if (name == "system-tree") {
                Attributes(section, {});
                ElementsOnly(section, {"interface", "station", "device"});
                project.SystemTree = ReadUnitChildren(section, 1);
                CheckParentKeys();
            } else if (name != kPluginSettings) {
                Fail(section, "unexpected element <"s + section.name() +
                                  ">; expected <project>, <map>, <users>, <io-tree>, "
                                  "<system-tree> or <plugin-settings>");
            }
        }
        return project;
    }

  private:
    [[noreturn]] void Fail(pugi::xml_node node, const std::string& message) const {
        source_.Fail(node, message);
    }

    static std::string Where(pugi::xml_node node, const char* attribute) {
        return "<"s + node.name() + "> attribute \"" + attribute + "\"";
    }

    // Unknown attributes are errors, so that a misspelt name does not pass unnoticed.
    void Attributes(pugi::xml_node node, std::initializer_list<std::string_view> allowed) const {
        for (pugi::xml_attribute attribute : node.attributes()) {
            bool known = false;
            for (std::string_view name : allowed) {
                known = known || name == attribute.name();
            }
            if (!known) {
                std::string expected;
                for (std::string_view name : allowed) {
                    expected += (expected.empty() ? "" : ", ") + std::string(name);
                }
                Fail(node, "unknown attribute \""s + attribute.name() + "\" on <" + node.name() +
                               ">" + (expected.empty() ? "" : "; expected one of " + expected));
            }
        }
    }

    std::string Required(pugi::xml_node node, const char* name) const {
        const pugi::xml_attribute attribute = node.attribute(name);
        if (!attribute) {
            Fail(node, "<"s + node.name() + "> lacks the attribute \"" + name + "\"");
        }
        return attribute.value();
    }

    std::optional<std::string> Optional(pugi::xml_node node, const char* name) const {
        const pugi::xml_attribute attribute = node.attribute(name);
        if (!attribute) {
            return std::nullopt;
        }
        return std::string(attribute.value());
    }

    template <typename Int>
    Int IntegerAttribute(pugi::xml_node node, const char* name, Int fallback, Int minimum,
                         Int maximum) const {
        const pugi::xml_attribute attribute = node.attribute(name);
        if (!attribute) {
            return fallback;
        }
        const std::string_view text = attribute.value();
        Int value{};
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (error != std::errc() || end != text.data() + text.size() || value < minimum ||
            value > maximum) {
            Fail(node, Where(node, name) + ": expected an integer from " + std::to_string(minimum) +
                           " to " + std::to_string(maximum) + ", found \"" + std::string(text) +
                           "\"");
        }
        return value;
    }

    int32_t IntAttribute(pugi::xml_node node, const char* name, int32_t fallback,
                         int32_t minimum = INT32_MIN, int32_t maximum = INT32_MAX) const {
        return IntegerAttribute<int32_t>(node, name, fallback, minimum, maximum);
    }

    double NumberAttribute(pugi::xml_node node, const char* name, double fallback) const {
        const pugi::xml_attribute attribute = node.attribute(name);
        if (!attribute) {
            return fallback;
        }
        const std::string_view text = attribute.value();
        double value = 0.0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
            Fail(node,
                 Where(node, name) + ": expected a number, found \"" + std::string(text) + "\"");
        }
        return value;
    }

    bool BoolAttribute(pugi::xml_node node, const char* name, bool fallback) const {
        const pugi::xml_attribute attribute = node.attribute(name);
        if (!attribute) {
            return fallback;
        }
        const std::string_view text = attribute.value();
        if (text == "true" || text == "1") {
            return true;
        }
        if (text == "false" || text == "0") {
            return false;
        }
        Fail(node,
             Where(node, name) + ": expected true or false, found \"" + std::string(text) + "\"");
    }

    template <typename Enum>
    Enum Choice(pugi::xml_node node, const char* name, Enum fallback,
                std::initializer_list<std::pair<std::string_view, Enum>> choices) const {
        const pugi::xml_attribute attribute = node.attribute(name);
        if (!attribute) {
            return fallback;
        }
        std::string expected;
        for (const auto& [text, value] : choices) {
            if (text == attribute.value()) {
                return value;
            }
            expected += (expected.empty() ? "" : ", ") + std::string(text);
        }
        Fail(node, Where(node, name) + ": expected one of " + expected + ", found \"" +
                       attribute.value() + "\"");
    }

    void FitsField(pugi::xml_node node, const char* name, const std::string& text,
                   std::size_t units) const {
        if (Utf16Length(text) > units) {
            Fail(node, Where(node, name) + ": at most " + std::to_string(units) +
                           " characters fit, found " + std::to_string(Utf16Length(text)));
        }
    }

    void Bounded(pugi::xml_node node, std::size_t count, std::size_t limit,
                 const char* what) const {
        if (count > limit) {
            Fail(node, "more "s + what + " than the limit of " + std::to_string(limit));
        }
    }

    void ElementsOnly(pugi::xml_node node, std::initializer_list<std::string_view> allowed) const {
        for (pugi::xml_node child : node.children()) {
            if (child.type() == pugi::node_pcdata && !IsBlank(child.value())) {
                Fail(node, "unexpected text inside <"s + node.name() + ">");
            }
            if (child.type() != pugi::node_element) {
                continue;
            }
            bool known = false;
            std::string expected;
            for (std::string_view name : allowed) {
                known = known || name == child.name();
                expected += (expected.empty() ? "<" : ">, <") + std::string(name);
            }
            if (!known) {
                Fail(child, "unexpected element <"s + child.name() + "> inside <" + node.name() +
                                ">" + (expected.empty() ? "" : "; expected " + expected + ">"));
            }
        }
    }

    static bool IsBlank(std::string_view text) {
        return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
    }

    ProjectInfo ReadInfo(pugi::xml_node node) const {
        Attributes(node, {});
        ElementsOnly(node, {"PROJECT_NAME", "COMPANY", "WORKER", "DESCRIPTION"});
        ProjectInfo info;
        info.ProjectName = node.child("PROJECT_NAME").text().get();
        info.Company = node.child("COMPANY").text().get();
        info.Worker = node.child("WORKER").text().get();
        info.Description = node.child("DESCRIPTION").text().get();
        return info;
    }

    std::vector<UserSpec> ReadUsers(pugi::xml_node node) const {
        Attributes(node, {});
        ElementsOnly(node, {"user"});
        std::vector<UserSpec> users;
        std::set<std::string> ids;
        for (pugi::xml_node element : node.children("user")) {
            Attributes(element, {"id", "hash", "may-write"});
            UserSpec user;
            user.Id = Required(element, "id");
            user.Hash = Required(element, "hash");
            user.MayWrite = BoolAttribute(element, "may-write", false);
            if (user.Id.empty()) {
                Fail(element, "<user> attribute \"id\": expected a user id, found an empty text");
            }
            if (!ids.insert(user.Id).second) {
                Fail(element, "user \"" + user.Id + "\" appears twice");
            }
            if (crypt_checksalt(user.Hash.c_str()) != CRYPT_SALT_OK) {
                Fail(element,
                     "<user> attribute \"hash\": expected a crypt(3) password hash "
                     "this system supports (for example \"$y$...\" or \"$6$...\")");
            }
            users.push_back(std::move(user));
            Bounded(node, users.size(), limits_.MaxUsers, "users");
        }
        return users;
    }

    std::vector<IoNode> ReadIoChildren(pugi::xml_node node, int depth) {
        if (depth > limits_.MaxTreeDepth) {
            Fail(node,
                 "groups nested deeper than the limit of " + std::to_string(limits_.MaxTreeDepth));
        }
        ElementsOnly(node, {"group", "tag"});
        std::vector<IoNode> children;
        for (pugi::xml_node child : node.children()) {
            if (child.type() != pugi::node_element) {
                continue;
            }
            if (std::string_view(child.name()) == "group") {
                Attributes(child, {"name"});
                Bounded(child, ++groups_, limits_.MaxGroups, "groups");
                IoNode group;
                group.Name = Required(child, "name");
                group.Children = ReadIoChildren(child, depth + 1);
                children.push_back(std::move(group));
            } else {
                Bounded(child, ++tags_, limits_.MaxTags, "tags");
                IoNode tag;
                tag.Tag = ReadTag(child);
                tag.Name = tag.Tag->Name;
                children.push_back(std::move(tag));
            }
        }
        return children;
    }

    TagSpec ReadTag(pugi::xml_node node) const {
        Attributes(node, {"id", "name", "guid", "sig-type", "rw", "unit", "description",
                          "data-type", "decimals"});
        ElementsOnly(node, {"values", "drive"});
        TagSpec tag;
        tag.Id = IntAttribute(node, "id", static_cast<int32_t>(tags_));
        tag.Name = Required(node, "name");
        if (const auto guid = Optional(node, "guid")) {
            tag.Guid = ParseGuid(*guid);
            if (!tag.Guid) {
                Fail(node,
                     "<tag> attribute \"guid\": expected "
                     "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX} in hexadecimal digits, "
                     "found \"" +
                         *guid + "\"");
            }
        }
        tag.SigType = IntAttribute(node, "sig-type", kelvane::stNumeric, 0, 255);
        tag.RW = IntAttribute(node, "rw", 0);
        tag.Unit = node.attribute("unit").value();
        tag.Description = node.attribute("description").value();
        tag.DataType = IntAttribute(node, "data-type", 0);
        tag.Decimals = IntAttribute(node, "decimals", 0, -2, 15);
        if (const pugi::xml_node values = node.child("values")) {
            Attributes(values, {});
            ElementsOnly(values, {"value"});
            for (pugi::xml_node value : values.children("value")) {
                Attributes(value, {"name", "value"});
                Required(value, "value");
                tag.Values.push_back({Required(value, "name"), IntAttribute(value, "value", 0)});
                Bounded(values, tag.Values.size(), limits_.MaxNamedValuesPerTag, "named values");
            }
        }
        if (const pugi::xml_node drive = node.child("drive")) {
            tag.Drive = ReadDrive(drive, tag);
        }
        return tag;
    }

    ValueDrive ReadDrive(pugi::xml_node node, const TagSpec& tag) const {
        Attributes(node, {"kind", "scan-ms", "min", "max", "period-ms", "step", "value", "text"});
        ElementsOnly(node, {"message"});
        ValueDrive drive;
        drive.Kind = Choice(node, "kind", DriveKind::Constant,
                            {{"constant", DriveKind::Constant},
                             {"sine", DriveKind::Sine},
                             {"ramp", DriveKind::Ramp},
                             {"random-walk", DriveKind::RandomWalk},
                             {"cycle", DriveKind::Cycle},
                             {"text", DriveKind::Text}});
        drive.ScanMs = IntAttribute(node, "scan-ms", drive.ScanMs, 10, 3'600'000);
        drive.Minimum = NumberAttribute(node, "min", drive.Minimum);
        drive.Maximum = NumberAttribute(node, "max", drive.Maximum);
        drive.PeriodMs = IntAttribute(node, "period-ms", drive.PeriodMs, 100, 86'400'000);
        drive.Step = NumberAttribute(node, "step", drive.Step);
        drive.Value = NumberAttribute(node, "value", drive.Value);
        drive.Text = node.attribute("text").value();
        for (pugi::xml_node message : node.children("message")) {
            Attributes(message, {});
            drive.Messages.emplace_back(message.text().get());
            Bounded(node, drive.Messages.size(), limits_.MaxMessagesPerTag, "messages");
        }
        if (drive.Minimum > drive.Maximum) {
            Fail(node, "<drive>: \"min\" must not be greater than \"max\"");
        }
        if (drive.Step < 0) {
            Fail(node, "<drive> attribute \"step\": expected a number not below 0");
        }
        if (drive.Kind == DriveKind::Cycle && tag.Values.empty()) {
            Fail(node, "<drive kind=\"cycle\"> needs the tag's <values> to cycle through");
        }
        if (drive.Kind == DriveKind::Text && drive.Messages.empty()) {
            Fail(node, "<drive kind=\"text\"> needs at least one <message>");
        }
        return drive;
    }

    std::vector<UnitSpec> ReadUnitChildren(pugi::xml_node node, int depth) {
        if (depth > limits_.MaxTreeDepth) {
            Fail(node,
                 "units nested deeper than the limit of " + std::to_string(limits_.MaxTreeDepth));
        }
        std::vector<UnitSpec> units;
        for (pugi::xml_node child : node.children()) {
            if (child.type() != pugi::node_element) {
                continue;
            }
            const std::string_view name = child.name();
            if (name == "interface" || name == "station" || name == "device") {
                Bounded(child, ++units_, limits_.MaxUnits, "units");
                units.push_back(ReadUnit(child, depth));
            }
        }
        return units;
    }

    UnitSpec ReadUnit(pugi::xml_node node, int depth) {
        const std::string_view element = node.name();
        UnitSpec unit;
        unit.Kind = element == "interface" ? UnitKind::Interface
                    : element == "station" ? UnitKind::Station
                                           : UnitKind::Device;
        const char* infoName = unit.Kind == UnitKind::Interface ? "description" : "model";
        if (unit.Kind == UnitKind::Station) {
            Attributes(node, {"key", "unit-id", "pin-kind", "name", "device-name", "device-kind",
                              "model", "extra", "check", "connect-state", "offline-every-ms",
                              "offline-for-ms", "parent-unit", "unit-data", "plugin"});
        } else {
            Attributes(node, {"key", "unit-id", "pin-kind", "device-name", "device-kind", infoName,
                              "extra", "check", "connect-state", "offline-every-ms",
                              "offline-for-ms", "parent-unit", "unit-data", "plugin"});
        }
        ElementsOnly(node, {"parameter", "interface", "station", "device"});
        unit.Key = node.attribute("key").value();
        if (!unit.Key.empty() && !keys_.insert(unit.Key).second) {
            Fail(node, "unit key \"" + unit.Key + "\" appears twice");
        }
        unit.UnitId = IntegerAttribute<uint64_t>(node, "unit-id", units_, 0, UINT64_MAX);
        unit.PinKind = IntAttribute(node, "pin-kind", DefaultPinKind(unit.Kind));
        if (unit.Kind == UnitKind::Station) {
            unit.StationName = Required(node, "name");
            if (unit.StationName.empty()) {
                Fail(node,
                     "<station> attribute \"name\": expected a station name, found an "
                     "empty text");
            }
            FitsField(node, "name", unit.StationName, kStationNameUnits);
        }
        unit.DeviceName = Optional(node, "device-name");
        unit.DeviceKind = IntAttribute(node, "device-kind", 0);
        unit.Info = Optional(node, infoName);
        unit.Extra = Optional(node, "extra");
        unit.Check = Choice(node, "check", CheckState::Checked,
                            {{"checked", CheckState::Checked},
                             {"unchecked", CheckState::Unchecked},
                             {"pressed", CheckState::Pressed},
                             {"disabled", CheckState::Disabled}});
        unit.ConnectState = IntAttribute(node, "connect-state", 1);
        unit.OfflineEveryMs = IntAttribute(node, "offline-every-ms", 0, 0, 86'400'000);
        unit.OfflineForMs = IntAttribute(node, "offline-for-ms", 0, 0, 86'400'000);
        if ((unit.OfflineEveryMs == 0) != (unit.OfflineForMs == 0) ||
            (unit.OfflineEveryMs != 0 && unit.OfflineForMs >= unit.OfflineEveryMs)) {
            Fail(node,
                 "\"offline-every-ms\" and \"offline-for-ms\" go together, and a unit must "
                 "be offline for less time than the period");
        }
        if (const auto parent = Optional(node, "parent-unit")) {
            unit.Parent = parent->empty() ? ParentRef{ParentRef::None, {}}
                                          : ParentRef{ParentRef::ByKey, *parent};
            if (!parent->empty()) {
                parentKeys_.emplace_back(node, *parent);
            }
        }
        unit.HasUnitData = Choice(node, "unit-data", true, {{"present", true}, {"absent", false}});
        unit.HasPinz = Choice(node, "plugin", true, {{"present", true}, {"absent", false}});
        for (pugi::xml_node parameter : node.children("parameter")) {
            unit.Parameters.push_back(ReadParameter(parameter));
            Bounded(node, unit.Parameters.size(), limits_.MaxParametersPerUnit,
                    "parameters in one unit");
        }
        unit.Children = ReadUnitChildren(node, depth + 1);
        return unit;
    }

    ParameterSpec ReadParameter(pugi::xml_node node) const {
        Attributes(node,
                   {"name", "type", "value", "unit", "item-index", "enabled", "group", "writer"});
        ElementsOnly(node, {"items", "range"});
        ParameterSpec parameter;
        parameter.Name = Required(node, "name");
        FitsField(node, "name", parameter.Name, kParamNameUnits);
        Required(node, "type");
        parameter.PropType = IntAttribute(node, "type", 0);
        parameter.ValueText = node.attribute("value").value();
        FitsField(node, "value", parameter.ValueText, kParamValueUnits);
        parameter.UnitText = node.attribute("unit").value();
        FitsField(node, "unit", parameter.UnitText, kParamUnitUnits);
        parameter.ItemIndex = IntAttribute(node, "item-index", 0);
        parameter.Enabled = BoolAttribute(node, "enabled", true);
        const std::string group = node.attribute("group").value();
        if (group.empty() || group == "self") {
            parameter.Group = {GroupAnswer::Self, 0};
        } else if (group == "ignore") {
            parameter.Group = {GroupAnswer::Ignore, 0};
        } else {
            parameter.Group = {GroupAnswer::Given, IntAttribute(node, "group", 0)};
        }
        parameter.Writer = Choice(node, "writer", WriterMode::Normal,
                                  {{"normal", WriterMode::Normal},
                                   {"raises", WriterMode::Raises},
                                   {"none", WriterMode::None}});
        if (const pugi::xml_node items = node.child("items")) {
            Attributes(items, {});
            ElementsOnly(items, {"item"});
            parameter.Items.emplace();
            for (pugi::xml_node item : items.children("item")) {
                Attributes(item, {});
                parameter.Items->emplace_back(item.text().get());
                Bounded(items, parameter.Items->size(), limits_.MaxItemsPerParameter, "items");
            }
        }
        if (const pugi::xml_node range = node.child("range")) {
            Attributes(range, {"valid", "min", "max", "decimals"});
            ElementsOnly(range, {});
            ParamRangeSpec spec;
            spec.Valid = BoolAttribute(range, "valid", true);
            spec.Minimum = NumberAttribute(range, "min", 0.0);
            spec.Maximum = NumberAttribute(range, "max", 0.0);
            spec.Decimals = IntAttribute(range, "decimals", 0, -1, 15);
            parameter.Range = spec;
        }
        return parameter;
    }

    // Every parent-unit key must name a unit of the tree (read before or after it).
    void CheckParentKeys() const {
        for (const auto& [node, key] : parentKeys_) {
            if (!keys_.contains(key)) {
                Fail(node, "<"s + node.name() +
                               "> attribute \"parent-unit\": no unit has the key \"" + key + "\"");
            }
        }
    }

    const XmlSource& source_;
    const ProjectLimits& limits_;
    std::size_t tags_ = 0;
    std::size_t groups_ = 0;
    std::size_t units_ = 0;
    std::set<std::string> keys_;
    std::vector<std::pair<pugi::xml_node, std::string>> parentKeys_;
};

}  // namespace

Project ReadProject(const XmlSource& source, const ProjectLimits& limits) {
    return Reader(source, limits).Read();
}

}  // namespace host
