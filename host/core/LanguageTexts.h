// A language file: texts for the plug-ins, under a child node per pin type ("_11" holds the
// server's TextTable entries in document order).
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

#include "host/core/XmlNode.h"
#include "host/core/XmlSource.h"

namespace host {

inline constexpr const char* kServerLanguageNode = "_11";
inline constexpr std::size_t kMaxLanguageFileBytes = 1u << 20;
inline constexpr std::size_t kMaxLanguageEntries = 10'000;

class LanguageTexts {
  public:
    // choice: a language code ("en", "ko": lang/<code>.xml under languageDir) or a file path.
    // FileError when the file is missing, malformed or has no "_11" node.
    static LanguageTexts load(const std::string& choice, const std::filesystem::path& languageDir);
    static LanguageTexts fromFile(const std::filesystem::path& path);

    // The root node handed to plug-ins with command 15.
    kelvane::IXMLNode* root() { return nodes_->wrap(source_.document().document_element()); }
    // The server's entries (children of "_11"), for checks and tests.
    int entryCount() const;
    std::string entry(int index) const;

  private:
    explicit LanguageTexts(XmlSource source);

    XmlSource source_;
    std::unique_ptr<XmlNodes> nodes_;
};

}  // namespace host
