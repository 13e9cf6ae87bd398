#include "host/core/Plant.h"

namespace host {

Plant::Plant(Project project)
    : project_(std::move(project)),
      projectRecord_{texts_.add(project_.info.projectName), texts_.add(project_.info.company),
                     texts_.add(project_.info.worker), texts_.add(project_.info.description)},
      io_(project_.ioTree),
      system_(project_.systemTree) {
    hostSystem_.Project = &projectRecord_;
    hostSystem_.SystemTree = &system_.tree();
}

}  // namespace host
