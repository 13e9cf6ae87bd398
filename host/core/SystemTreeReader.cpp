#include "host/core/SystemTreeReader.h"

namespace host {

namespace {

using namespace std::string_literals;

// Longest texts the fixed fields of the host records hold (with their terminating zero).
constexpr std::size_t kStationNameUnits = 63;
constexpr std::size_t kParamNameUnits = 63;
constexpr std::size_t kParamValueUnits = 127;
constexpr std::size_t kParamUnitUnits = 31;

}  // namespace

std::vector<UnitSpec> SystemTreeReader::read(pugi::xml_node section) {
    elementsOnly(section, {"interface", "station", "device"});
    std::vector<UnitSpec> units = readUnitChildren(section, 1);
    checkParentKeys();
    return units;
}

std::vector<UnitSpec> SystemTreeReader::readUnitChildren(pugi::xml_node node, int depth) {
    if (depth > limits().maxTreeDepth) {
        fail(node,
             "units nested deeper than the limit of " + std::to_string(limits().maxTreeDepth));
    }
    std::vector<UnitSpec> units;
    for (pugi::xml_node child : node.children()) {
        if (child.type() != pugi::node_element) {
            continue;
        }
        const std::string_view name = child.name();
        if (name == "interface" || name == "station" || name == "device") {
            bounded(child, ++units_, limits().maxUnits, "units");
            units.push_back(readUnit(child, depth));
        }
    }
    return units;
}

UnitSpec SystemTreeReader::readUnit(pugi::xml_node node, int depth) {
    const std::string_view element = node.name();
    UnitSpec unit;
    unit.kind = element == "interface" ? UnitKind::Interface
                : element == "station" ? UnitKind::Station
                                       : UnitKind::Device;
    const char* infoName = unit.kind == UnitKind::Interface ? "description" : "model";
    checkUnitAttributes(node, unit, infoName);
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
    readOfflineTimes(node, unit);
    if (const auto parent = optional(node, "parent-unit")) {
        unit.parent =
            parent->empty() ? ParentRef{ParentRef::None, {}} : ParentRef{ParentRef::ByKey, *parent};
        if (!parent->empty()) {
            parentKeys_.emplace_back(node, *parent);
        }
    }
    unit.hasUnitData = choice(node, "unit-data", true, {{"present", true}, {"absent", false}});
    unit.hasPinz = choice(node, "plugin", true, {{"present", true}, {"absent", false}});
    for (pugi::xml_node parameter : node.children("parameter")) {
        unit.parameters.push_back(readParameter(parameter));
        bounded(node, unit.parameters.size(), limits().maxParametersPerUnit,
                "parameters in one unit");
    }
    unit.children = readUnitChildren(node, depth + 1);
    return unit;
}

void SystemTreeReader::checkUnitAttributes(pugi::xml_node node, const UnitSpec& unit,
                                           const char* infoName) const {
    if (unit.kind == UnitKind::Station) {
        attributes(node, {"key", "unit-id", "pin-kind", "name", "device-name", "device-kind",
                          "model", "extra", "check", "connect-state", "offline-every-ms",
                          "offline-for-ms", "parent-unit", "unit-data", "plugin"});
    } else {
        attributes(node, {"key", "unit-id", "pin-kind", "device-name", "device-kind", infoName,
                          "extra", "check", "connect-state", "offline-every-ms", "offline-for-ms",
                          "parent-unit", "unit-data", "plugin"});
    }
    elementsOnly(node, {"parameter", "interface", "station", "device"});
}

void SystemTreeReader::readOfflineTimes(pugi::xml_node node, UnitSpec& unit) const {
    unit.offlineEveryMs = intAttribute(node, "offline-every-ms", 0, 0, 86'400'000);
    unit.offlineForMs = intAttribute(node, "offline-for-ms", 0, 0, 86'400'000);
    if ((unit.offlineEveryMs == 0) != (unit.offlineForMs == 0) ||
        (unit.offlineEveryMs != 0 && unit.offlineForMs >= unit.offlineEveryMs)) {
        fail(node,
             "\"offline-every-ms\" and \"offline-for-ms\" go together, and a unit must "
             "be offline for less time than the period");
    }
}

ParameterSpec SystemTreeReader::readParameter(pugi::xml_node node) const {
    attributes(node, {"name", "type", "value", "unit", "item-index", "enabled", "group", "writer"});
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
            bounded(items, parameter.items->size(), limits().maxItemsPerParameter, "items");
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
void SystemTreeReader::checkParentKeys() const {
    for (const auto& [node, key] : parentKeys_) {
        if (!keys_.contains(key)) {
            fail(node, "<"s + node.name() + "> attribute \"parent-unit\": no unit has the key \"" +
                           key + "\"");
        }
    }
}

}  // namespace host
