// Everything the host hands to plug-ins, built from a project: the project record, the IO records
// and tree, the system tree with its units, and the system object that carries them.
#pragma once

#include "host/core/IoRecords.h"
#include "host/core/ProjectModel.h"
#include "host/core/SystemRecords.h"
#include "host/core/TextPool.h"
#include "kelvane/SystemRecords.h"

namespace host {

class Plant {
  public:
    explicit Plant(Project project);
    Plant(const Plant&) = delete;
    Plant& operator=(const Plant&) = delete;

    const Project& model() const { return project_; }
    IoRecords& io() { return io_; }
    SystemRecords& system() { return system_; }
    kelvane::TProjectRecord* projectRecord() { return &projectRecord_; }
    // The system object of command 0: project record at 32, system tree at 40.
    kelvane::THostSystem* hostSystem() { return &hostSystem_; }

  private:
    Project project_;
    TextPool texts_;
    kelvane::TProjectRecord projectRecord_;
    IoRecords io_;
    SystemRecords system_;
    kelvane::THostSystem hostSystem_{};
};

}  // namespace host
