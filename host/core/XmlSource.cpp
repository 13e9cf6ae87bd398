#include "host/core/XmlSource.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "host/core/FileError.h"

namespace host {

XmlSource XmlSource::fromFile(const std::filesystem::path& path, std::size_t maxBytes) {
    const std::string name = path.string();
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw FileError(name, 0, std::string("cannot open the file: ") + std::strerror(errno));
    }
    // Read in chunks and stop one chunk past the limit, so that any kind of file is bounded.
    std::string text;
    char chunk[64 * 1024];
    while (text.size() <= maxBytes && in.read(chunk, sizeof chunk).gcount() > 0) {
        text.append(chunk, static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad()) {
        throw FileError(name, 0, "cannot read the file");
    }
    return fromText(text, name, maxBytes);
}

XmlSource XmlSource::fromText(const std::string& text, std::string name, std::size_t maxBytes) {
    if (text.size() > maxBytes) {
        throw FileError(
            name, 0, "the file is larger than the limit of " + std::to_string(maxBytes) + " bytes");
    }
    XmlSource source(std::move(name), text);
    const pugi::xml_parse_result result = source.document_->load_buffer(
        text.data(), text.size(), pugi::parse_default, pugi::encoding_utf8);
    if (!result) {
        throw FileError(source.name_, source.lineAt(result.offset),
                        std::string("malformed XML: ") + result.description());
    }
    if (!source.document_->document_element()) {
        throw FileError(source.name_, 0, "expected an XML document with a root element");
    }
    return source;
}

XmlSource::XmlSource(std::string name, const std::string& text)
    : name_(std::move(name)), document_(std::make_unique<pugi::xml_document>()) {
    lineStarts_.push_back(0);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            lineStarts_.push_back(i + 1);
        }
    }
}

int XmlSource::lineAt(std::ptrdiff_t offset) const {
    if (offset < 0) {
        return 0;
    }
    const auto after =
        std::upper_bound(lineStarts_.begin(), lineStarts_.end(), static_cast<std::size_t>(offset));
    return static_cast<int>(after - lineStarts_.begin());
}

int XmlSource::lineOf(pugi::xml_node node) const {
    return lineAt(node.offset_debug());
}

void XmlSource::fail(pugi::xml_node node, const std::string& message) const {
    throw FileError(name_, lineOf(node), message);
}

}  // namespace host
