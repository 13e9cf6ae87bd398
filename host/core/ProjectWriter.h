// Writes a project as a project document (the format ProjectFile reads back).
#pragma once

#include <string>

#include <pugixml.hpp>

#include "host/core/ProjectModel.h"

namespace host {

// Fills an empty document; the <plugin-settings> element is written empty for the caller.
void writeProject(const Project& project, pugi::xml_document& document);
std::string documentText(const pugi::xml_document& document);

}  // namespace host
