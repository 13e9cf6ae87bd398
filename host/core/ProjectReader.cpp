// Reads the project out of a project document, checking every value and bound on the way: the
// sections and their order here, the project information and the users; the IO tree and the
// system tree in their own readers.
#include <crypt.h>

#include <set>
#include <string_view>

#include "host/core/ElementReader.h"
#include "host/core/IoTreeReader.h"
#include "host/core/ProjectFile.h"
#include "host/core/SystemTreeReader.h"

namespace host {

namespace {

using namespace std::string_literals;

class Reader : ElementReader {
  public:
    Reader(const XmlSource& source, const ProjectLimits& limits)
        : ElementReader(source, limits), source_(source) {}

    Project read();

  private:
    ProjectInfo readInfo(pugi::xml_node node) const;
    std::vector<UserSpec> readUsers(pugi::xml_node node) const;

    const XmlSource& source_;
};

Project Reader::read() {
    const pugi::xml_node root = source_.document().document_element();
    if (std::string_view(root.name()) != kProjectRoot) {
        fail(root,
             "expected the root element <"s + kProjectRoot + ">, found <" + root.name() + ">");
    }
    attributes(root, {"format"});
    if (intAttribute(root, "format", 1, 1, 1) != 1) {
        fail(root, "unsupported format");
    }
    Project project;
    // A second section would silently replace the first (its users, its tree).
    std::set<std::string_view> sections;
    for (pugi::xml_node section : root.children()) {
        if (section.type() != pugi::node_element) {
            continue;
        }
        const std::string_view name = section.name();
        if (!sections.insert(name).second) {
            fail(section, "<"s + section.name() + "> appears twice; a project has one");
        }
        if (name == "project") {
            project.info = readInfo(section);
        } else if (name == "map") {
            attributes(section, {"open-fails"});
            project.map.openFails = boolAttribute(section, "open-fails", false);
        } else if (name == "users") {
            project.users = readUsers(section);
        } else if (name == "io-tree") {
            attributes(section, {});
            project.ioTree = IoTreeReader(source_, limits()).readIoChildren(section, 1);
        } else if (name == "system-tree") {
            attributes(section, {});
            project.systemTree = SystemTreeReader(source_, limits()).read(section);
        } else if (name != kPluginSettings) {
            fail(section, "unexpected element <"s + section.name() +
                              ">; expected <project>, <map>, <users>, <io-tree>, "
                              "<system-tree> or <plugin-settings>");
        }
    }
    return project;
}

ProjectInfo Reader::readInfo(pugi::xml_node node) const {
    attributes(node, {});
    elementsOnly(node, {"PROJECT_NAME", "COMPANY", "WORKER", "DESCRIPTION"});
    ProjectInfo info;
    info.projectName = node.child("PROJECT_NAME").text().get();
    info.company = node.child("COMPANY").text().get();
    info.worker = node.child("WORKER").text().get();
    info.description = node.child("DESCRIPTION").text().get();
    return info;
}

std::vector<UserSpec> Reader::readUsers(pugi::xml_node node) const {
    attributes(node, {});
    elementsOnly(node, {"user"});
    std::vector<UserSpec> users;
    std::set<std::string> ids;
    for (pugi::xml_node element : node.children("user")) {
        attributes(element, {"id", "hash", "may-write"});
        UserSpec user;
        user.id = required(element, "id");
        user.hash = required(element, "hash");
        user.mayWrite = boolAttribute(element, "may-write", false);
        if (user.id.empty()) {
            fail(element, "<user> attribute \"id\": expected a user id, found an empty text");
        }
        if (!ids.insert(user.id).second) {
            fail(element, "user \"" + user.id + "\" appears twice");
        }
        if (crypt_checksalt(user.hash.c_str()) != CRYPT_SALT_OK) {
            fail(element,
                 "<user> attribute \"hash\": expected a crypt(3) password hash "
                 "this system supports (for example \"$y$...\" or \"$6$...\")");
        }
        users.push_back(std::move(user));
        bounded(node, users.size(), limits().maxUsers, "users");
    }
    return users;
}

}  // namespace

Project readProject(const XmlSource& source, const ProjectLimits& limits) {
    return Reader(source, limits).read();
}

}  // namespace host
