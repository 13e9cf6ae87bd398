#include "LanguageTexts.h"

#include <cctype>
#include <charconv>

#include "FileError.h"

namespace host {

namespace {

bool IsLanguageCode(const std::string& choice) {
    return choice.size() == 2 && std::islower(static_cast<unsigned char>(choice[0])) &&
           std::islower(static_cast<unsigned char>(choice[1]));
}

pugi::xml_node ServerNode(const pugi::xml_document& document) {
    return document.document_element().child(kServerLanguageNode);
}

}  // namespace

LanguageTexts LanguageTexts::Load(const std::string& choice,
                                  const std::filesystem::path& languageDir) {
    return FromFile(IsLanguageCode(choice) ? languageDir / (choice + ".xml")
                                           : std::filesystem::path(choice));
}

LanguageTexts LanguageTexts::FromFile(const std::filesystem::path& path) {
    XmlSource source = XmlSource::FromFile(path, kMaxLanguageFileBytes);
    const pugi::xml_node root = source.Document().document_element();
    const pugi::xml_node server = ServerNode(source.Document());
    if (!server) {
        source.Fail(root, std::string("expected a child element <") + kServerLanguageNode +
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
                source.Fail(entry, "entry number \"" + std::string(text) +
                                       "\" stands at position " + std::to_string(position) +
                                       "; expected n=\"" + std::to_string(position) + "\"");
            }
        }
        if (++position > kMaxLanguageEntries) {
            source.Fail(entry,
                        "more entries than the limit of " + std::to_string(kMaxLanguageEntries));
        }
    }
    return LanguageTexts(std::move(source));
}

LanguageTexts::LanguageTexts(XmlSource source)
    : source_(std::move(source)), nodes_(std::make_unique<XmlNodes>()) {}

int LanguageTexts::EntryCount() const {
    int count = 0;
    for (pugi::xml_node entry : ServerNode(source_.Document()).children()) {
        count += entry.type() == pugi::node_element ? 1 : 0;
    }
    return count;
}

std::string LanguageTexts::Entry(int index) const {
    for (pugi::xml_node entry : ServerNode(source_.Document()).children()) {
        if (entry.type() == pugi::node_element && index-- == 0) {
            return entry.text().get();
        }
    }
    return {};
}

}  // namespace host
