// The host's XML documents (project file, language texts) as plug-ins see them: IXMLNode over
// pugixml. Used on the GUI thread only.
#pragma once

#include <memory>
#include <unordered_map>

#include <pugixml.hpp>

#include "kelvane/XMLNode.h"

namespace host {

class XmlNode;

// Owns the node objects handed out for one document; they live as long as this object.
class XmlNodes {
  public:
    XmlNodes();
    XmlNodes(const XmlNodes&) = delete;
    XmlNodes& operator=(const XmlNodes&) = delete;
    ~XmlNodes();

    // The same object for the same node every time; null for a null node.
    kelvane::IXMLNode* wrap(pugi::xml_node node);

  private:
    std::unordered_map<pugi::xml_node_struct*, std::unique_ptr<XmlNode>> nodes_;
};

class XmlNode final : public kelvane::IXMLNode {
  public:
    XmlNode(pugi::xml_node node, XmlNodes& nodes) : node_(node), nodes_(nodes) {}
    ~XmlNode() = default;

    std::string NodeName() const override;
    std::string Text() const override;
    int ChildCount() const override;
    IXMLNode* Child(int index) override;
    IXMLNode* ChildNode(std::string_view name) override;
    IXMLNode* AddChild(std::string_view name) override;
    bool HasAttribute(std::string_view name) const override;
    std::string Attribute(std::string_view name) const override;
    void SetAttribute(std::string_view name, std::string_view value) override;

  private:
    pugi::xml_node node_;
    XmlNodes& nodes_;
};

}  // namespace host
