#include "ProjectWriter.h"

#include <charconv>
#include <sstream>

#include "GuidText.h"
#include "ProjectFile.h"

namespace host {

namespace {

// Shortest text that reads back as the same number.
std::string Number(double value) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

void SetNumber(pugi::xml_node node, const char* name, double value, double fallback) {
    if (value != fallback) {
        node.append_attribute(name).set_value(Number(value).c_str());
    }
}

void SetInt(pugi::xml_node node, const char* name, int64_t value, int64_t fallback) {
    if (value != fallback) {
        node.append_attribute(name).set_value(std::to_string(value).c_str());
    }
}

void SetText(pugi::xml_node node, const char* name, const std::string& value) {
    if (!value.empty()) {
        node.append_attribute(name).set_value(value.c_str());
    }
}

void WriteDrive(const ValueDrive& drive, pugi::xml_node tag) {
    static const ValueDrive kDefault;
    if (drive == kDefault) {
        return;
    }
    static constexpr const char* kKinds[] = {"constant",    "sine",  "ramp",
                                             "random-walk", "cycle", "text"};
    pugi::xml_node node = tag.append_child("drive");
    node.append_attribute("kind").set_value(kKinds[static_cast<int>(drive.Kind)]);
    SetInt(node, "scan-ms", drive.ScanMs, kDefault.ScanMs);
    SetNumber(node, "min", drive.Minimum, kDefault.Minimum);
    SetNumber(node, "max", drive.Maximum, kDefault.Maximum);
    SetInt(node, "period-ms", drive.PeriodMs, kDefault.PeriodMs);
    SetNumber(node, "step", drive.Step, kDefault.Step);
    SetNumber(node, "value", drive.Value, kDefault.Value);
    SetText(node, "text", drive.Text);
    for (const std::string& message : drive.Messages) {
        node.append_child("message").text().set(message.c_str());
    }
}

void WriteTag(const TagSpec& tag, pugi::xml_node parent) {
    pugi::xml_node node = parent.append_child("tag");
    node.append_attribute("id").set_value(tag.Id);
    node.append_attribute("name").set_value(tag.Name.c_str());
    if (tag.Guid) {
        node.append_attribute("guid").set_value(FormatGuid(*tag.Guid).c_str());
    }
    node.append_attribute("sig-type").set_value(tag.SigType);
    SetInt(node, "rw", tag.RW, 0);
    SetText(node, "unit", tag.Unit);
    SetText(node, "description", tag.Description);
    SetInt(node, "data-type", tag.DataType, 0);
    SetInt(node, "decimals", tag.Decimals, 0);
    if (!tag.Values.empty()) {
        pugi::xml_node values = node.append_child("values");
        for (const NamedValue& value : tag.Values) {
            pugi::xml_node entry = values.append_child("value");
            entry.append_attribute("name").set_value(value.Name.c_str());
            entry.append_attribute("value").set_value(value.Value);
        }
    }
    WriteDrive(tag.Drive, node);
}

void WriteIoNodes(const std::vector<IoNode>& nodes, pugi::xml_node parent) {
    for (const IoNode& node : nodes) {
        if (node.Tag) {
            WriteTag(*node.Tag, parent);
        } else {
            pugi::xml_node group = parent.append_child("group");
            group.append_attribute("name").set_value(node.Name.c_str());
            WriteIoNodes(node.Children, group);
        }
    }
}

void WriteParameter(const ParameterSpec& parameter, pugi::xml_node unit) {
    pugi::xml_node node = unit.append_child("parameter");
    node.append_attribute("name").set_value(parameter.Name.c_str());
    node.append_attribute("type").set_value(parameter.PropType);
    SetText(node, "value", parameter.ValueText);
    SetText(node, "unit", parameter.UnitText);
    SetInt(node, "item-index", parameter.ItemIndex, 0);
    if (!parameter.Enabled) {
        node.append_attribute("enabled").set_value("false");
    }
    if (parameter.Group.Kind == GroupAnswer::Ignore) {
        node.append_attribute("group").set_value("ignore");
    } else if (parameter.Group.Kind == GroupAnswer::Given) {
        node.append_attribute("group").set_value(parameter.Group.Index);
    }
    static constexpr const char* kWriters[] = {"normal", "raises", "none"};
    if (parameter.Writer != WriterMode::Normal) {
        node.append_attribute("writer").set_value(kWriters[static_cast<int>(parameter.Writer)]);
    }
    if (parameter.Items) {
        pugi::xml_node items = node.append_child("items");
        for (const std::string& item : *parameter.Items) {
            items.append_child("item").text().set(item.c_str());
        }
    }
    if (parameter.Range) {
        pugi::xml_node range = node.append_child("range");
        if (!parameter.Range->Valid) {
            range.append_attribute("valid").set_value("false");
        }
        range.append_attribute("min").set_value(Number(parameter.Range->Minimum).c_str());
        range.append_attribute("max").set_value(Number(parameter.Range->Maximum).c_str());
        range.append_attribute("decimals").set_value(parameter.Range->Decimals);
    }
}

void WriteUnits(const std::vector<UnitSpec>& units, pugi::xml_node parent) {
    static constexpr const char* kElements[] = {"interface", "station", "device"};
    static constexpr const char* kChecks[] = {"unchecked", "", "checked", "pressed",
                                              "",          "", "",        "disabled"};
    for (const UnitSpec& unit : units) {
        pugi::xml_node node = parent.append_child(kElements[static_cast<int>(unit.Kind)]);
        SetText(node, "key", unit.Key);
        node.append_attribute("unit-id").set_value(unit.UnitId);
        SetInt(node, "pin-kind", unit.PinKind, DefaultPinKind(unit.Kind));
        if (unit.Kind == UnitKind::Station) {
            node.append_attribute("name").set_value(unit.StationName.c_str());
        }
        if (unit.DeviceName) {
            node.append_attribute("device-name").set_value(unit.DeviceName->c_str());
        }
        SetInt(node, "device-kind", unit.DeviceKind, 0);
        if (unit.Info) {
            node.append_attribute(unit.Kind == UnitKind::Interface ? "description" : "model")
                .set_value(unit.Info->c_str());
        }
        if (unit.Extra) {
            node.append_attribute("extra").set_value(unit.Extra->c_str());
        }
        if (unit.Check != CheckState::Checked) {
            node.append_attribute("check").set_value(kChecks[static_cast<int>(unit.Check)]);
        }
        SetInt(node, "connect-state", unit.ConnectState, 1);
        SetInt(node, "offline-every-ms", unit.OfflineEveryMs, 0);
        SetInt(node, "offline-for-ms", unit.OfflineForMs, 0);
        if (unit.Parent.Kind != ParentRef::TreeParent) {
            node.append_attribute("parent-unit").set_value(unit.Parent.Key.c_str());
        }
        if (!unit.HasUnitData) {
            node.append_attribute("unit-data").set_value("absent");
        }
        if (!unit.HasPinz) {
            node.append_attribute("plugin").set_value("absent");
        }
        for (const ParameterSpec& parameter : unit.Parameters) {
            WriteParameter(parameter, node);
        }
        WriteUnits(unit.Children, node);
    }
}

}  // namespace

void WriteProject(const Project& project, pugi::xml_document& document) {
    pugi::xml_node declaration = document.append_child(pugi::node_declaration);
    declaration.append_attribute("version").set_value("1.0");
    declaration.append_attribute("encoding").set_value("UTF-8");
    pugi::xml_node root = document.append_child(kProjectRoot);
    root.append_attribute("format").set_value(1);

    pugi::xml_node info = root.append_child("project");
    info.append_child("PROJECT_NAME").text().set(project.Info.ProjectName.c_str());
    info.append_child("COMPANY").text().set(project.Info.Company.c_str());
    info.append_child("WORKER").text().set(project.Info.Worker.c_str());
    info.append_child("DESCRIPTION").text().set(project.Info.Description.c_str());

    if (project.Map.OpenFails) {
        root.append_child("map").append_attribute("open-fails").set_value("true");
    }
    pugi::xml_node users = root.append_child("users");
    for (const UserSpec& user : project.Users) {
        pugi::xml_node node = users.append_child("user");
        node.append_attribute("id").set_value(user.Id.c_str());
        node.append_attribute("hash").set_value(user.Hash.c_str());
        node.append_attribute("may-write").set_value(user.MayWrite ? "true" : "false");
    }
    WriteIoNodes(project.IoTree, root.append_child("io-tree"));
    WriteUnits(project.SystemTree, root.append_child("system-tree"));
    root.append_child(kPluginSettings);
}

std::string DocumentText(const pugi::xml_document& document) {
    std::ostringstream out;
    document.save(out, "  ", pugi::format_default, pugi::encoding_utf8);
    return out.str();
}

}  // namespace host
