#include "plugin/LibraryApplication.h"

namespace daq {

namespace {
kelvane::TApplication* gApplication = nullptr;
}

kelvane::TApplication* libraryApplication() {
    return gApplication;
}

void setLibraryApplication(kelvane::TApplication* application) {
    gApplication = application;
}

}  // namespace daq
