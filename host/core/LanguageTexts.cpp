#include "host/core/LanguageTexts.h"

#include <cctype>
#include <charconv>

#include "host/core/FileError.h"

namespace host {

namespace {

bool isLanguageCode(const std::string& choice) {
    return choice.size() == 2 && std::islower(static_cast<unsigned char>(choice[0])) &&
           std::islower(static_cast<unsigned char>(choice[1]));
}

pugi::xml_node serverNode(const pugi::xml_document& document) {
    return document.document_element().child(kServerLanguageNode);
}

}  // namespace

LanguageTexts LanguageTexts::load(const std::string& choice,
                                  const std::filesystem::path& languageDir) {
    return fromFile(isLanguageCode(choice) ? languageDir / (choice + ".xml")
                                           : std::filesystem::path(choice));
}

LanguageTexts LanguageTexts::fromFile(const std::filesystem::path& path) {
    XmlSource source = XmlSource::fromFile(path, kMaxLanguageFileBytes);
    const pugi::xml_node root = source.document().document_element();
    const pugi::xml_node server = serverNode(source.document());
    if (!server) {
        source.fail(root, std::string("expected a child element <") + kServerLanguageNode +
                              "> holding the server's texts inside <" + root.name() + ">");
    }
    std::size_t position = 0;
    for (pugi::xml_node entry : server.children()) {
        if (entry.type() != pugi::node_element) {
            continue;
        }
        // An optional "n" attribute numbers the entry; it must match its position.
        if (const pugi::xml_attribute number = entry.attribute("n")) {
            const std::string_view text = number.value();
            std::size_t value = 0;
            const auto [end, error] =
                std::from_chars(text.data(), text.data() + text.size(), value);
            if (error != std::errc() || end != text.data() + text.size() || value != position) {
                source.fail(entry, "entry number \"" + std::string(text) +
                                       "\" stands at position " + std::to_string(position) +
                                       "; expected n=\"" + std::to_string(position) + "\"");
            }
        }
        if (++position > kMaxLanguageEntries) {
            source.fail(entry,
                        "more entries than the limit of " + std::to_string(kMaxLanguageEntries));
        }
    }
    return LanguageTexts(std::move(source));
}

LanguageTexts::LanguageTexts(XmlSource source)
    : source_(std::move(source)), nodes_(std::make_unique<XmlNodes>()) {}

int LanguageTexts::entryCount() const {
    int count = 0;
    for (pugi::xml_node entry : serverNode(source_.document()).children()) {
        count += entry.type() == pugi::node_element ? 1 : 0;
    }
    return count;
}

std::string LanguageTexts::entry(int index) const {
    for (pugi::xml_node entry : serverNode(source_.document()).children()) {
        if (entry.type() == pugi::node_element && index-- == 0) {
            return entry.text().get();
        }
    }
    return {};
}

}  // namespace host
