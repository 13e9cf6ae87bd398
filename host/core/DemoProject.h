// The project the host runs when no project file is given: a small water works. Also the large
// synthetic projects for scale tests.
#pragma once

#include <cstddef>
#include <string>

#include "host/core/ProjectModel.h"

namespace host {

// Users admin/admin (may write) and viewer/viewer (may not), hashed afresh with crypt(3).
Project makeDemoProject();
// The demo project with its IO tree replaced by tagCount numeric tags in groups of 1000, each
// with a new value every second; with `changing` > 0, the first `changing` tags get a new value
// every 100 ms and the others one an hour (a plant where a known share moves).
Project makeSyntheticProject(std::size_t tagCount, std::size_t changing = 0);
// The project as a project file, with plug-in settings that let the plug-in run at once.
std::string projectFileText(const Project& project);

}  // namespace host
