// A plug-in library loaded with dlopen, with its two entry points.
#pragma once

#include <filesystem>

#include "kelvane/Pinz.h"

namespace host {

class PluginLibrary {
  public:
    // Loads with RTLD_NOW | RTLD_LOCAL and looks both entry points up by name; FileError names
    // the library and what is missing.
    explicit PluginLibrary(const std::filesystem::path& path);
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;
    // Unloads the library.
    ~PluginLibrary();

    kelvane::CreatePinzInstanceFn create() const { return create_; }
    kelvane::DeletePinzInstanceFn destroy() const { return delete_; }

  private:
    void* handle_;
    kelvane::CreatePinzInstanceFn create_;
    kelvane::DeletePinzInstanceFn delete_;
};

}  // namespace host
