#include "Plant.h"

namespace host {

Plant::Plant(Project project)
    : project_(std::move(project)),
      projectRecord_{texts_.Add(project_.Info.ProjectName), texts_.Add(project_.Info.Company),
                     texts_.Add(project_.Info.Worker), texts_.Add(project_.Info.Description)},
      io_(project_.IoTree),
      system_(project_.SystemTree) {
    hostSystem_.Project = &projectRecord_;
    hostSystem_.SystemTree = &system_.Tree();
}

}  // namespace host
