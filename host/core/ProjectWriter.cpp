#include "host/core/ProjectWriter.h"

#include <charconv>
#include <sstream>

#include "host/core/GuidText.h"
#include "host/core/ProjectFile.h"

namespace host {

namespace {

// Shortest text that reads back as the same number.
std::string number(double value) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

void setNumber(pugi::xml_node node, const char* name, double value, double fallback) {
    if (value != fallback) {
        node.append_attribute(name).set_value(number(value).c_str());
    }
}

void setInt(pugi::xml_node node, const char* name, int64_t value, int64_t fallback) {
    if (value != fallback) {
        node.append_attribute(name).set_value(std::to_string(value).c_str());
    }
}

void setText(pugi::xml_node node, const char* name, const std::string& value) {
    if (!value.empty()) {
        node.append_attribute(name).set_value(value.c_str());
    }
}

void writeDrive(const ValueDrive& drive, pugi::xml_node tag) {
    static const ValueDrive kDefault;
    if (drive == kDefault) {
        return;
    }
    static constexpr const char* kKinds[] = {"constant",    "sine",  "ramp",
                                             "random-walk", "cycle", "text"};
    pugi::xml_node node = tag.append_child("drive");
    node.append_attribute("kind").set_value(kKinds[static_cast<int>(drive.kind)]);
    setInt(node, "scan-ms", drive.scanMs, kDefault.scanMs);
    setNumber(node, "min", drive.minimum, kDefault.minimum);
    setNumber(node, "max", drive.maximum, kDefault.maximum);
    setInt(node, "period-ms", drive.periodMs, kDefault.periodMs);
    setNumber(node, "step", drive.step, kDefault.step);
    setNumber(node, "value", drive.value, kDefault.value);
    setText(node, "text", drive.text);
    for (const std::string& message : drive.messages) {
        node.append_child("message").text().set(message.c_str());
    }
}

void writeTag(const TagSpec& tag, pugi::xml_node parent) {
    pugi::xml_node node = parent.append_child("tag");
    node.append_attribute("id").set_value(tag.id);
    node.append_attribute("name").set_value(tag.name.c_str());
    if (tag.guid) {
        node.append_attribute("guid").set_value(formatGuid(*tag.guid).c_str());
    }
    node.append_attribute("sig-type").set_value(tag.sigType);
    setInt(node, "rw", tag.rw, 0);
    setText(node, "unit", tag.unit);
    setText(node, "description", tag.description);
    setInt(node, "data-type", tag.dataType, 0);
    setInt(node, "decimals", tag.decimals, 0);
    if (!tag.values.empty()) {
        pugi::xml_node values = node.append_child("values");
        for (const NamedValue& value : tag.values) {
            pugi::xml_node entry = values.append_child("value");
            entry.append_attribute("name").set_value(value.name.c_str());
            entry.append_attribute("value").set_value(value.value);
        }
    }
    writeDrive(tag.drive, node);
}

void writeIoNodes(const std::vector<IoNode>& nodes, pugi::xml_node parent) {
    for (const IoNode& node : nodes) {
        if (node.tag) {
            writeTag(*node.tag, parent);
        } else {
            pugi::xml_node group = parent.append_child("group");
            group.append_attribute("name").set_value(node.name.c_str());
            writeIoNodes(node.children, group);
        }
    }
}

void writeParameter(const ParameterSpec& parameter, pugi::xml_node unit) {
    pugi::xml_node node = unit.append_child("parameter");
    node.append_attribute("name").set_value(parameter.name.c_str());
    node.append_attribute("type").set_value(parameter.propType);
    setText(node, "value", parameter.valueText);
    setText(node, "unit", parameter.unitText);
    setInt(node, "item-index", parameter.itemIndex, 0);
    if (!parameter.enabled) {
        node.append_attribute("enabled").set_value("false");
    }
    if (parameter.group.kind == GroupAnswer::Ignore) {
        node.append_attribute("group").set_value("ignore");
    } else if (parameter.group.kind == GroupAnswer::Given) {
        node.append_attribute("group").set_value(parameter.group.index);
    }
    static constexpr const char* kWriters[] = {"normal", "raises", "none"};
    if (parameter.writer != WriterMode::Normal) {
        node.append_attribute("writer").set_value(kWriters[static_cast<int>(parameter.writer)]);
    }
    if (parameter.items) {
        pugi::xml_node items = node.append_child("items");
        for (const std::string& item : *parameter.items) {
            items.append_child("item").text().set(item.c_str());
        }
    }
    if (parameter.range) {
        pugi::xml_node range = node.append_child("range");
        if (!parameter.range->valid) {
            range.append_attribute("valid").set_value("false");
        }
        range.append_attribute("min").set_value(number(parameter.range->minimum).c_str());
        range.append_attribute("max").set_value(number(parameter.range->maximum).c_str());
        range.append_attribute("decimals").set_value(parameter.range->decimals);
    }
}

void writeUnits(const std::vector<UnitSpec>& units, pugi::xml_node parent) {
    static constexpr const char* kElements[] = {"interface", "station", "device"};
    static constexpr const char* kChecks[] = {"unchecked", "", "checked", "pressed",
                                              "",          "", "",        "disabled"};
    for (const UnitSpec& unit : units) {
        pugi::xml_node node = parent.append_child(kElements[static_cast<int>(unit.kind)]);
        setText(node, "key", unit.key);
        node.append_attribute("unit-id").set_value(unit.unitId);
        setInt(node, "pin-kind", unit.pinKind, defaultPinKind(unit.kind));
        if (unit.kind == UnitKind::Station) {
            node.append_attribute("name").set_value(unit.stationName.c_str());
        }
        if (unit.deviceName) {
            node.append_attribute("device-name").set_value(unit.deviceName->c_str());
        }
        setInt(node, "device-kind", unit.deviceKind, 0);
        if (unit.info) {
            node.append_attribute(unit.kind == UnitKind::Interface ? "description" : "model")
                .set_value(unit.info->c_str());
        }
        if (unit.extra) {
            node.append_attribute("extra").set_value(unit.extra->c_str());
        }
        if (unit.check != CheckState::Checked) {
            node.append_attribute("check").set_value(kChecks[static_cast<int>(unit.check)]);
        }
        setInt(node, "connect-state", unit.connectState, 1);
        setInt(node, "offline-every-ms", unit.offlineEveryMs, 0);
        setInt(node, "offline-for-ms", unit.offlineForMs, 0);
        if (unit.parent.kind != ParentRef::TreeParent) {
            node.append_attribute("parent-unit").set_value(unit.parent.key.c_str());
        }
        if (!unit.hasUnitData) {
            node.append_attribute("unit-data").set_value("absent");
        }
        if (!unit.hasPinz) {
            node.append_attribute("plugin").set_value("absent");
        }
        for (const ParameterSpec& parameter : unit.parameters) {
            writeParameter(parameter, node);
        }
        writeUnits(unit.children, node);
    }
}

}  // namespace

void writeProject(const Project& project, pugi::xml_document& document) {
    pugi::xml_node declaration = document.append_child(pugi::node_declaration);
    declaration.append_attribute("version").set_value("1.0");
    declaration.append_attribute("encoding").set_value("UTF-8");
    pugi::xml_node root = document.append_child(kProjectRoot);
    root.append_attribute("format").set_value(1);

    pugi::xml_node info = root.append_child("project");
    info.append_child("PROJECT_NAME").text().set(project.info.projectName.c_str());
    info.append_child("COMPANY").text().set(project.info.company.c_str());
    info.append_child("WORKER").text().set(project.info.worker.c_str());
    info.append_child("DESCRIPTION").text().set(project.info.description.c_str());

    if (project.map.openFails) {
        root.append_child("map").append_attribute("open-fails").set_value("true");
    }
    pugi::xml_node users = root.append_child("users");
    for (const UserSpec& user : project.users) {
        pugi::xml_node node = users.append_child("user");
        node.append_attribute("id").set_value(user.id.c_str());
        node.append_attribute("hash").set_value(user.hash.c_str());
        node.append_attribute("may-write").set_value(user.mayWrite ? "true" : "false");
    }
    writeIoNodes(project.ioTree, root.append_child("io-tree"));
    writeUnits(project.systemTree, root.append_child("system-tree"));
    root.append_child(kPluginSettings);
}

std::string documentText(const pugi::xml_document& document) {
    std::ostringstream out;
    document.save(out, "  ", pugi::format_default, pugi::encoding_utf8);
    return out.str();
}

}  // namespace host
