#include "host/core/IoTreeReader.h"

#include <string>

#include "host/core/GuidText.h"

namespace host {

std::vector<IoNode> IoTreeReader::readIoChildren(pugi::xml_node node, int depth) {
    if (depth > limits().maxTreeDepth) {
        fail(node,
             "groups nested deeper than the limit of " + std::to_string(limits().maxTreeDepth));
    }
    elementsOnly(node, {"group", "tag"});
    std::vector<IoNode> children;
    for (pugi::xml_node child : node.children()) {
        if (child.type() != pugi::node_element) {
            continue;
        }
        if (std::string_view(child.name()) == "group") {
            attributes(child, {"name"});
            bounded(child, ++groups_, limits().maxGroups, "groups");
            IoNode group;
            group.name = required(child, "name");
            group.children = readIoChildren(child, depth + 1);
            children.push_back(std::move(group));
        } else {
            bounded(child, ++tags_, limits().maxTags, "tags");
            IoNode tag;
            tag.tag = readTag(child);
            tag.name = tag.tag->name;
            children.push_back(std::move(tag));
        }
    }
    return children;
}

TagSpec IoTreeReader::readTag(pugi::xml_node node) const {
    attributes(node, {"id", "name", "guid", "sig-type", "rw", "unit", "description", "data-type",
                      "decimals"});
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
            bounded(values, tag.values.size(), limits().maxNamedValuesPerTag, "named values");
        }
    }
    if (const pugi::xml_node drive = node.child("drive")) {
        tag.drive = readDrive(drive, tag);
    }
    return tag;
}

ValueDrive IoTreeReader::readDrive(pugi::xml_node node, const TagSpec& tag) const {
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
        bounded(node, drive.messages.size(), limits().maxMessagesPerTag, "messages");
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

}  // namespace host
