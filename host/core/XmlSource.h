// An XML file the host reads, parsed with pugixml, that can say on which line a node stands.
#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <pugixml.hpp>

namespace host {

class XmlSource {
  public:
    // Reads and parses the file; FileError when it is missing, larger than maxBytes or not
    // well-formed XML (with the line of the fault).
    static XmlSource fromFile(const std::filesystem::path& path, std::size_t maxBytes);
    // The same for a text in memory; name stands for the file in messages.
    static XmlSource fromText(const std::string& text, std::string name, std::size_t maxBytes);

    pugi::xml_document& document() { return *document_; }
    const pugi::xml_document& document() const { return *document_; }
    const std::string& name() const { return name_; }

    // 1-based line where the node starts in the text as read; 0 when unknown (a node added
    // after reading).
    int lineOf(pugi::xml_node node) const;
    [[noreturn]] void fail(pugi::xml_node node, const std::string& message) const;

  private:
    XmlSource(std::string name, const std::string& text);
    int lineAt(std::ptrdiff_t offset) const;

    std::string name_;
    std::vector<std::size_t> lineStarts_;
    std::unique_ptr<pugi::xml_document> document_;
};

}  // namespace host
