// A node of the host's XML documents (project file, language texts). Texts are UTF-8.
// Nodes belong to their document, which the host keeps alive while the plug-in may use them.
#pragma once

#include <string>
#include <string_view>

namespace kelvane {

class IXMLNode {
  public:
    virtual std::string NodeName() const = 0;
    virtual std::string Text() const = 0;
    virtual int ChildCount() const = 0;
    // Element children in document order; null outside 0..ChildCount()-1.
    virtual IXMLNode* Child(int index) = 0;
    // First element child with this name, or null.
    virtual IXMLNode* ChildNode(std::string_view name) = 0;
    virtual IXMLNode* AddChild(std::string_view name) = 0;
    virtual bool HasAttribute(std::string_view name) const = 0;
    virtual std::string Attribute(std::string_view name) const = 0;
    virtual void SetAttribute(std::string_view name, std::string_view value) = 0;

  protected:
    ~IXMLNode() = default;
};

}  // namespace kelvane
