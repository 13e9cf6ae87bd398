// The library's global application object. It is null until a plug-in object adopts the
// host's application object, so that the library's forms belong to the host application.
// Window thread only.
#pragma once

#include "kelvane/Application.h"

namespace daq {

kelvane::TApplication* libraryApplication();
void setLibraryApplication(kelvane::TApplication* application);

}  // namespace daq
