#include "ProjectFile.h"

#include <cerrno>
#include <cstring>
#include <system_error>

#include "FileError.h"

namespace host {

ProjectFile ProjectFile::Load(const std::filesystem::path& path, const ProjectLimits& limits) {
    XmlSource source = XmlSource::FromFile(path, limits.MaxFileBytes);
    Project model = ReadProject(source, limits);
    return ProjectFile(std::move(source), std::move(model));
}

ProjectFile ProjectFile::FromText(const std::string& text, std::string name,
                                  const ProjectLimits& limits) {
    XmlSource source = XmlSource::FromText(text, std::move(name), limits.MaxFileBytes);
    Project model = ReadProject(source, limits);
    return ProjectFile(std::move(source), std::move(model));
}

ProjectFile::ProjectFile(XmlSource source, Project model)
    : source_(std::move(source)), model_(std::move(model)) {}

pugi::xml_node ProjectFile::PluginSettings() {
    pugi::xml_node root = source_.Document().document_element();
    pugi::xml_node settings = root.child(kPluginSettings);
    return settings ? settings : root.append_child(kPluginSettings);
}

void ProjectFile::Save(const std::filesystem::path& path) const {
    std::filesystem::path temporary = path;
    temporary += ".new";
    if (!source_.Document().save_file(temporary.c_str(), "  ", pugi::format_default,
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
