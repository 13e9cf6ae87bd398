// A project file as the host holds it while it runs: the parsed project, and the XML document
// whose plug-in settings node the plug-in reads and (with --save) writes.
#pragma once

#include <filesystem>
#include <string>

#include <pugixml.hpp>

#include "host/core/ProjectLimits.h"
#include "host/core/ProjectModel.h"
#include "host/core/XmlSource.h"

namespace host {

inline constexpr const char* kProjectRoot = "kelvane-project";
inline constexpr const char* kPluginSettings = "plugin-settings";

class ProjectFile {
  public:
    // FileError (file, line, what was expected) for a missing, oversized or malformed file.
    static ProjectFile load(const std::filesystem::path& path, const ProjectLimits& limits = {});
    static ProjectFile fromText(const std::string& text, std::string name,
                                const ProjectLimits& limits = {});

    const Project& model() const { return model_; }
    const std::string& name() const { return source_.name(); }
    // The node that holds the plug-in's own settings.
    pugi::xml_node pluginSettings();
    // Writes the document (with the plug-in settings as they are now) to path, replacing the
    // file in one step.
    void save(const std::filesystem::path& path) const;

  private:
    ProjectFile(XmlSource source, Project model);

    XmlSource source_;
    Project model_;
};

// Reads the project out of a parsed project document; FileError names the line at fault.
Project readProject(const XmlSource& source, const ProjectLimits& limits);

}  // namespace host
