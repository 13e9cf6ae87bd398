// Reads the project out of a project document, checking every value and bound on the way.
#include <crypt.h>

#include <charconv>
#include <cmath>
#include <initializer_list>
#include <set>
#include <string_view>

#include "host/core/FileError.h"
#include "host/core/GuidText.h"
#include "host/core/ProjectFile.h"
#include "host/core/Utf16.h"

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

    Project read() {
        const pugi::xml_node root = source_.document().document_element();
        if (std::string_view(root.name()) != kProjectRoot) {
            fail(root,
                 "expected the root element <"s + kProjectRoot + ">, found <" + root.name() + ">");
        }
        attributes(root, {"format"});
        if (intAttribute(root, "format", 1, 1, 1) != 1) {
            fail(root, "unsupported format");
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
                fail(section, "<"s + section.name() + "> appears twice; a project has one");
            }
            if (name == "project") {
                project.info = readInfo(section);
            } else if (name == "map") {
                attributes(section, {"open-fails"});
                project.map.openFails = boolAttribute(section, "open-fails", false);
            } else if (name == "users") {
                project.users = readUsers(section);
            } else if (name == "io-tree") {
                attributes(section, {});
                project.ioTree = readIoChildren(section, 1);
            } else if (name == "system-tree") {
                attributes(section, {});
                elementsOnly(section, {"interface", "station", "device"});
                project.systemTree = readUnitChildren(section, 1);
                checkParentKeys();
            } else if (name != kPluginSettings) {
                fail(section, "unexpected element <"s + section.name() +
                                  ">; expected <project>, <map>, <users>, <io-tree>, "
                                  "<system-tree> or <plugin-settings>");
            }
        }
        return project;
    }

  private:
    [[noreturn]] void fail(pugi::xml_node node, const std::string& message) const {
        source_.fail(node, message);
    }

    static std::string where(pugi::xml_node node, const char* attribute) {
        return "<"s + node.name() + "> attribute \"" + attribute + "\"";
    }

    // Unknown attributes are errors, so that a misspelt name does not pass unnoticed.
    void attributes(pugi::xml_node node, std::initializer_list<std::string_view> allowed) const {
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
                fail(node, "unknown attribute \""s + attribute.name() + "\" on <" + node.name() +
                               ">" + (expected.empty() ? "" : "; expected one of " + expected));
            }
        }
    }

    std::string required(pugi::xml_node node, const char* name) const {
        const pugi::xml_attribute attribute = node.attribute(name);
        if (!attribute) {
            fail(node, "<"s + node.name() + "> lacks the attribute \"" + name + "\"");
        }
        return attribute.value();
    }

    std::optional<std::string> optional(pugi::xml_node node, const char* name) const {
        const pugi::xml_attribute attribute = node.attribute(name);
        if (!attribute) {
            return std::nullopt;
        }
        return std::string(attribute.value());
    }

    template <typename Int>
    Int integerAttribute(pugi::xml_node node, const char* name, Int fallback, Int minimum,
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
            fail(node, where(node, name) + ": expected an integer from " + std::to_string(minimum) +
                           " to " + std::to_string(maximum) + ", found \"" + std::string(text) +
                           "\"");
        }
        return value;
    }

    int32_t intAttribute(pugi::xml_node node, const char* name, int32_t fallback,
                         int32_t minimum = INT32_MIN, int32_t maximum = INT32_MAX) const {
        return integerAttribute<int32_t>(node, name, fallback, minimum, maximum);
    }

    double numberAttribute(pugi::xml_node node, const char* name, double fallback) const {
        const pugi::xml_attribute attribute = node.attribute(name);
        if (!attribute) {
            return fallback;
        }
        const std::string_view text = attribute.value();
        double value = 0.0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
            fail(node,
                 where(node, name) + ": expected a number, found \"" + std::string(text) + "\"");
        }
        return value;
    }

    bool boolAttribute(pugi::xml_node node, const char* name, bool fallback) const {
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
        fail(node,
             where(node, name) + ": expected true or false, found \"" + std::string(text) + "\"");
    }

    template <typename Enum>
    Enum choice(pugi::xml_node node, const char* name, Enum fallback,
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
        fail(node, where(node, name) + ": expected one of " + expected + ", found \"" +
                       attribute.value() + "\"");
    }

    void fitsField(pugi::xml_node node, const char* name, const std::string& text,
                   std::size_t units) const {
        if (utf16Length(text) > units) {
            fail(node, where(node, name) + ": at most " + std::to_string(units) +
                           " characters fit, found " + std::to_string(utf16Length(text)));
        }
    }

    void bounded(pugi::xml_node node, std::size_t count, std::size_t limit,
                 const char* what) const {
        if (count > limit) {
            fail(node, "more "s + what + " than the limit of " + std::to_string(limit));
        }
    }

    void elementsOnly(pugi::xml_node node, std::initializer_list<std::string_view> allowed) const {
        for (pugi::xml_node child : node.children()) {
            if (child.type() == pugi::node_pcdata && !isBlank(child.value())) {
                fail(node, "unexpected text inside <"s + node.name() + ">");
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
                fail(child, "unexpected element <"s + child.name() + "> inside <" + node.name() +
                                ">" + (expected.empty() ? "" : "; expected " + expected + ">"));
            }
        }
    }

    static bool isBlank(std::string_view text) {
        return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
    }

    ProjectInfo readInfo(pugi::xml_node node) const {
        attributes(node, {});
        elementsOnly(node, {"PROJECT_NAME", "COMPANY", "WORKER", "DESCRIPTION"});
        ProjectInfo info;
        info.projectName = node.child("PROJECT_NAME").text().get();
        info.company = node.child("COMPANY").text().get();
        info.worker = node.child("WORKER").text().get();
        info.description = node.child("DESCRIPTION").text().get();
        return info;
    }

    std::vector<UserSpec> readUsers(pugi::xml_node node) const {
        attributes(node, {});
        elementsOnly(node, {"user"});
        std::vector<UserSpec> users;
        std::set<std::string> ids;
        for (pugi::xml_node element : node.children("user")) {
            attributes(element, {"id", "hash", "may-write"});
            UserSpec user;
            user.id = required(element, "id");
            user.hash = required(element, "hash");
            user.mayWrite = boolAttribute(element, "may-write", false);
            if (user.id.empty()) {
                fail(element, "<user> attribute \"id\": expected a user id, found an empty text");
            }
            if (!ids.insert(user.id).second) {
                fail(element, "user \"" + user.id + "\" appears twice");
            }
            if (crypt_checksalt(user.hash.c_str()) != CRYPT_SALT_OK) {
                fail(element,
                     "<user> attribute \"hash\": expected a crypt(3) password hash "
                     "this system supports (for example \"$y$...\" or \"$6$...\")");
            }
            users.push_back(std::move(user));
            bounded(node, users.size(), limits_.maxUsers, "users");
        }
        return users;
    }

    std::vector<IoNode> readIoChildren(pugi::xml_node node, int depth) {
        if (depth > limits_.maxTreeDepth) {
            fail(node,
                 "groups nested deeper than the limit of " + std::to_string(limits_.maxTreeDepth));
        }
        elementsOnly(node, {"group", "tag"});
        std::vector<IoNode> children;
        for (pugi::xml_node child : node.children()) {
            if (child.type() != pugi::node_element) {
                continue;
            }
            if (std::string_view(child.name()) == "group") {
                attributes(child, {"name"});
                bounded(child, ++groups_, limits_.maxGroups, "groups");
                IoNode group;
                group.name = required(child, "name");
                group.children = readIoChildren(child, depth + 1);
                children.push_back(std::move(group));
            } else {
                bounded(child, ++tags_, limits_.maxTags, "tags");
                IoNode tag;
                tag.tag = readTag(child);
                tag.name = tag.tag->name;
                children.push_back(std::move(tag));
            }
        }
        return children;
    }

    TagSpec readTag(pugi::xml_node node) const {
        attributes(node, {"id", "name", "guid", "sig-type", "rw", "unit", "description",
                          "data-type", "decimals"});
        elementsOnly(node, {"values", "drive"});
        TagSpec tag;
        tag.id = intAttribute(node, "id", static_cast<int32_t>(tags_));
        tag.name = required(node, "name");
        if (const auto guid = optional(node, "guid")) {
            tag.guid = parseGuid(*guid);
            if (!tag.guid) {
                fail(node,
                     "<tag> attribute \"guid\": expected "
                     "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX} in hexadecimal digits, "
                     "found \"" +
                         *guid + "\"");
            }
        }
        tag.sigType = intAttribute(node, "sig-type", kelvane::stNumeric, 0, 255);
        tag.rw = intAttribute(node, "rw", 0);
        tag.unit = node.attribute("unit").value();
        tag.description = node.attribute("description").value();
        tag.dataType = intAttribute(node, "data-type", 0);
        tag.decimals = intAttribute(node, "decimals", 0, -2, 15);
        if (const pugi::xml_node values = node.child("values")) {
            attributes(values, {});
            elementsOnly(values, {"value"});
            for (pugi::xml_node value : values.children("value")) {
                attributes(value, {"name", "value"});
                required(value, "value");
                tag.values.push_back({required(value, "name"), intAttribute(value, "value", 0)});
                bounded(values, tag.values.size(), limits_.maxNamedValuesPerTag, "named values");
            }
        }
        if (const pugi::xml_node drive = node.child("drive")) {
            tag.drive = readDrive(drive, tag);
        }
        return tag;
    }

    ValueDrive readDrive(pugi::xml_node node, const TagSpec& tag) const {
        attributes(node, {"kind", "scan-ms", "min", "max", "period-ms", "step", "value", "text"});
        elementsOnly(node, {"message"});
        ValueDrive drive;
        drive.kind = choice(node, "kind", DriveKind::Constant,
                            {{"constant", DriveKind::Constant},
                             {"sine", DriveKind::Sine},
                             {"ramp", DriveKind::Ramp},
                             {"random-walk", DriveKind::RandomWalk},
                             {"cycle", DriveKind::Cycle},
                             {"text", DriveKind::Text}});
        drive.scanMs = intAttribute(node, "scan-ms", drive.scanMs, 10, 3'600'000);
        drive.minimum = numberAttribute(node, "min", drive.minimum);
        drive.maximum = numberAttribute(node, "max", drive.maximum);
        drive.periodMs = intAttribute(node, "period-ms", drive.periodMs, 100, 86'400'000);
        drive.step = numberAttribute(node, "step", drive.step);
        drive.value = numberAttribute(node, "value", drive.value);
        drive.text = node.attribute("text").value();
        for (pugi::xml_node message : node.children("message")) {
            attributes(message, {});
            drive.messages.emplace_back(message.text().get());
            bounded(node, drive.messages.size(), limits_.maxMessagesPerTag, "messages");
        }
        if (drive.minimum > drive.maximum) {
            fail(node, "<drive>: \"min\" must not be greater than \"max\"");
        }
        if (drive.step < 0) {
            fail(node, "<drive> attribute \"step\": expected a number not below 0");
        }
        if (drive.kind == DriveKind::Cycle && tag.values.empty()) {
            fail(node, "<drive kind=\"cycle\"> needs the tag's <values> to cycle through");
        }
        if (drive.kind == DriveKind::Text && drive.messages.empty()) {
            fail(node, "<drive kind=\"text\"> needs at least one <message>");
        }
        return drive;
    }

    std::vector<UnitSpec> readUnitChildren(pugi::xml_node node, int depth) {
        if (depth > limits_.maxTreeDepth) {
            fail(node,
                 "units nested deeper than the limit of " + std::to_string(limits_.maxTreeDepth));
        }
        std::vector<UnitSpec> units;
        for (pugi::xml_node child : node.children()) {
            if (child.type() != pugi::node_element) {
                continue;
            }
            const std::string_view name = child.name();
            if (name == "interface" || name == "station" || name == "device") {
                bounded(child, ++units_, limits_.maxUnits, "units");
                units.push_back(readUnit(child, depth));
            }
        }
        return units;
    }

    UnitSpec readUnit(pugi::xml_node node, int depth) {
        const std::string_view element = node.name();
        UnitSpec unit;
        unit.kind = element == "interface" ? UnitKind::Interface
                    : element == "station" ? UnitKind::Station
                                           : UnitKind::Device;
        const char* infoName = unit.kind == UnitKind::Interface ? "description" : "model";
        if (unit.kind == UnitKind::Station) {
            attributes(node, {"key", "unit-id", "pin-kind", "name", "device-name", "device-kind",
                              "model", "extra", "check", "connect-state", "offline-every-ms",
                              "offline-for-ms", "parent-unit", "unit-data", "plugin"});
        } else {
            attributes(node, {"key", "unit-id", "pin-kind", "device-name", "device-kind", infoName,
                              "extra", "check", "connect-state", "offline-every-ms",
                              "offline-for-ms", "parent-unit", "unit-data", "plugin"});
        }
        elementsOnly(node, {"parameter", "interface", "station", "device"});
        unit.key = node.attribute("key").value();
        if (!unit.key.empty() && !keys_.insert(unit.key).second) {
            fail(node, "unit key \"" + unit.key + "\" appears twice");
        }
        unit.unitId = integerAttribute<uint64_t>(node, "unit-id", units_, 0, UINT64_MAX);
        unit.pinKind = intAttribute(node, "pin-kind", defaultPinKind(unit.kind));
        if (unit.kind == UnitKind::Station) {
            unit.stationName = required(node, "name");
            if (unit.stationName.empty()) {
                fail(node,
                     "<station> attribute \"name\": expected a station name, found an "
                     "empty text");
            }
            fitsField(node, "name", unit.stationName, kStationNameUnits);
        }
        unit.deviceName = optional(node, "device-name");
        unit.deviceKind = intAttribute(node, "device-kind", 0);
        unit.info = optional(node, infoName);
        unit.extra = optional(node, "extra");
        unit.check = choice(node, "check", CheckState::Checked,
                            {{"checked", CheckState::Checked},
                             {"unchecked", CheckState::Unchecked},
                             {"pressed", CheckState::Pressed},
                             {"disabled", CheckState::Disabled}});
        unit.connectState = intAttribute(node, "connect-state", 1);
        unit.offlineEveryMs = intAttribute(node, "offline-every-ms", 0, 0, 86'400'000);
        unit.offlineForMs = intAttribute(node, "offline-for-ms", 0, 0, 86'400'000);
        if ((unit.offlineEveryMs == 0) != (unit.offlineForMs == 0) ||
            (unit.offlineEveryMs != 0 && unit.offlineForMs >= unit.offlineEveryMs)) {
            fail(node,
                 "\"offline-every-ms\" and \"offline-for-ms\" go together, and a unit must "
                 "be offline for less time than the period");
        }
        if (const auto parent = optional(node, "parent-unit")) {
            unit.parent = parent->empty() ? ParentRef{ParentRef::None, {}}
                                          : ParentRef{ParentRef::ByKey, *parent};
            if (!parent->empty()) {
                parentKeys_.emplace_back(node, *parent);
            }
        }
        unit.hasUnitData = choice(node, "unit-data", true, {{"present", true}, {"absent", false}});
        unit.hasPinz = choice(node, "plugin", true, {{"present", true}, {"absent", false}});
        for (pugi::xml_node parameter : node.children("parameter")) {
            unit.parameters.push_back(readParameter(parameter));
            bounded(node, unit.parameters.size(), limits_.maxParametersPerUnit,
                    "parameters in one unit");
        }
        unit.children = readUnitChildren(node, depth + 1);
        return unit;
    }

    ParameterSpec readParameter(pugi::xml_node node) const {
        attributes(node,
                   {"name", "type", "value", "unit", "item-index", "enabled", "group", "writer"});
        elementsOnly(node, {"items", "range"});
        ParameterSpec parameter;
        parameter.name = required(node, "name");
        fitsField(node, "name", parameter.name, kParamNameUnits);
        required(node, "type");
        parameter.propType = intAttribute(node, "type", 0);
        parameter.valueText = node.attribute("value").value();
        fitsField(node, "value", parameter.valueText, kParamValueUnits);
        parameter.unitText = node.attribute("unit").value();
        fitsField(node, "unit", parameter.unitText, kParamUnitUnits);
        parameter.itemIndex = intAttribute(node, "item-index", 0);
        parameter.enabled = boolAttribute(node, "enabled", true);
        const std::string group = node.attribute("group").value();
        if (group.empty() || group == "self") {
            parameter.group = {GroupAnswer::Self, 0};
        } else if (group == "ignore") {
            parameter.group = {GroupAnswer::Ignore, 0};
        } else {
            parameter.group = {GroupAnswer::Given, intAttribute(node, "group", 0)};
        }
        parameter.writer = choice(node, "writer", WriterMode::Normal,
                                  {{"normal", WriterMode::Normal},
                                   {"raises", WriterMode::Raises},
                                   {"none", WriterMode::None}});
        if (const pugi::xml_node items = node.child("items")) {
            attributes(items, {});
            elementsOnly(items, {"item"});
            parameter.items.emplace();
            for (pugi::xml_node item : items.children("item")) {
                attributes(item, {});
                parameter.items->emplace_back(item.text().get());
                bounded(items, parameter.items->size(), limits_.maxItemsPerParameter, "items");
            }
        }
        if (const pugi::xml_node range = node.child("range")) {
            attributes(range, {"valid", "min", "max", "decimals"});
            elementsOnly(range, {});
            ParamRangeSpec spec;
            spec.valid = boolAttribute(range, "valid", true);
            spec.minimum = numberAttribute(range, "min", 0.0);
            spec.maximum = numberAttribute(range, "max", 0.0);
            spec.decimals = intAttribute(range, "decimals", 0, -1, 15);
            parameter.range = spec;
        }
        return parameter;
    }

    // Every parent-unit key must name a unit of the tree (read before or after it).
    void checkParentKeys() const {
        for (const auto& [node, key] : parentKeys_) {
            if (!keys_.contains(key)) {
                fail(node, "<"s + node.name() +
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

Project readProject(const XmlSource& source, const ProjectLimits& limits) {
    return Reader(source, limits).read();
}

}  // namespace host
