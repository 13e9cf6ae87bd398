#include "host/core/XmlNode.h"

#include <string>

namespace host {

XmlNodes::XmlNodes() = default;
XmlNodes::~XmlNodes() = default;

kelvane::IXMLNode* XmlNodes::wrap(pugi::xml_node node) {
    if (!node) {
        return nullptr;
    }
    auto& wrapper = nodes_[node.internal_object()];
    if (!wrapper) {
        wrapper = std::make_unique<XmlNode>(node, *this);
    }
    return wrapper.get();
}

std::string XmlNode::NodeName() const {
    return node_.name();
}

std::string XmlNode::Text() const {
    return node_.text().get();
}

int XmlNode::ChildCount() const {
    int count = 0;
    for (pugi::xml_node child = node_.first_child(); child; child = child.next_sibling()) {
        count += child.type() == pugi::node_element ? 1 : 0;
    }
    return count;
}

kelvane::IXMLNode* XmlNode::Child(int index) {
    if (index < 0) {
        return nullptr;
    }
    for (pugi::xml_node child = node_.first_child(); child; child = child.next_sibling()) {
        if (child.type() == pugi::node_element && index-- == 0) {
            return nodes_.wrap(child);
        }
    }
    return nullptr;
}

kelvane::IXMLNode* XmlNode::ChildNode(std::string_view name) {
    return nodes_.wrap(node_.child(std::string(name).c_str()));
}

kelvane::IXMLNode* XmlNode::AddChild(std::string_view name) {
    return nodes_.wrap(node_.append_child(std::string(name).c_str()));
}

bool XmlNode::HasAttribute(std::string_view name) const {
    return static_cast<bool>(node_.attribute(std::string(name).c_str()));
}

std::string XmlNode::Attribute(std::string_view name) const {
    return node_.attribute(std::string(name).c_str()).value();
}

void XmlNode::SetAttribute(std::string_view name, std::string_view value) {
    const std::string key(name);
    pugi::xml_attribute attribute = node_.attribute(key.c_str());
    if (!attribute) {
        attribute = node_.append_attribute(key.c_str());
    }
    attribute.set_value(std::string(value).c_str());
}

}  // namespace host
