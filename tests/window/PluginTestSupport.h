// Shared ground of the window tests: the host's application object (see
// HostApplicationEnvironment.h) and small helpers.
#pragma once

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "host/core/XmlNode.h"
#include "host/core/XmlSource.h"
#include "kelvane/HostApplication.h"
#include "tests/support/HostApplicationEnvironment.h"
#include "tests/unit/HostTestSupport.h"

inline void writeConfig(const std::string& text) {
    std::ofstream(HostApplicationEnvironment::configPath()) << text;
}

inline void removeConfig() {
    std::filesystem::remove(HostApplicationEnvironment::configPath());
}

// The calls of the host's Active-change handler.
struct ActiveChanges {
    int calls = 0;
    void* sender = nullptr;
    kelvane::TActivateEvent closure() {
        return {[](void* self, void* sender) {
                    ++static_cast<ActiveChanges*>(self)->calls;
                    static_cast<ActiveChanges*>(self)->sender = sender;
                },
                this};
    }
};

// An XML document of the host, with its nodes as the plug-in sees them.
class HostXml {
  public:
    explicit HostXml(const std::string& text)
        : source_(host::XmlSource::fromText(text, "test.xml", 1 << 20)) {}
    kelvane::IXMLNode* root() { return nodes_.wrap(source_.document().document_element()); }
    pugi::xml_node element() { return source_.document().document_element(); }

  private:
    host::XmlSource source_;
    host::XmlNodes nodes_;
};

// A language root node whose server texts are "text0", "text1", ... (`count` of them), but for
// the entries in `given`.
inline std::string languageXml(int count, const std::map<int, std::string>& given = {}) {
    std::string xml = "<lang><_11>";
    for (int i = 0; i < count; ++i) {
        xml += "<t>" + (given.contains(i) ? given.at(i) : "text" + std::to_string(i)) + "</t>";
    }
    return xml + "</_11></lang>";
}
