#include "host/core/ProjectFile.h"

#include <cerrno>
#include <cstring>
#include <system_error>

#include "host/core/FileError.h"

namespace host {

ProjectFile ProjectFile::load(const std::filesystem::path& path, const ProjectLimits& limits) {
    XmlSource source = XmlSource::fromFile(path, limits.maxFileBytes);
    Project model = readProject(source, limits);
    return ProjectFile(std::move(source), std::move(model));
}

ProjectFile ProjectFile::fromText(const std::string& text, std::string name,
                                  const ProjectLimits& limits) {
    XmlSource source = XmlSource::fromText(text, std::move(name), limits.maxFileBytes);
    Project model = readProject(source, limits);
    return ProjectFile(std::move(source), std::move(model));
}

ProjectFile::ProjectFile(XmlSource source, Project model)
    : source_(std::move(source)), model_(std::move(model)) {}

pugi::xml_node ProjectFile::pluginSettings() {
    pugi::xml_node root = source_.document().document_element();
    pugi::xml_node settings = root.child(kPluginSettings);
    return settings ? settings : root.append_child(kPluginSettings);
}

void ProjectFile::save(const std::filesystem::path& path) const {
    std::filesystem::path temporary = path;
    temporary += ".new";
    if (!source_.document().save_file(temporary.c_str(), "  ", pugi::format_default,
                                      pugi::encoding_utf8)) {
        throw FileError(temporary.string(), 0,
                        std::string("cannot write the file: ") + std::strerror(errno));
    }
    std::error_code error;
    std::filesystem::rename(temporary, path, error);
    if (error) {
        throw FileError(path.string(), 0, "cannot replace the file: " + error.message());
    }
}

}  // namespace host
