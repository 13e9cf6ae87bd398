#include "host/session/PluginLibrary.h"

#include <dlfcn.h>

#include <string>

#include "host/core/FileError.h"

namespace host {

namespace {

void* symbol(void* handle, const char* name, const std::filesystem::path& path) {
    dlerror();
    void* symbol = dlsym(handle, name);
    if (symbol == nullptr) {
        dlclose(handle);
        throw FileError(path.string(), 0,
                        std::string("the plug-in does not export \"") + name + "\"");
    }
    return symbol;
}

}  // namespace

PluginLibrary::PluginLibrary(const std::filesystem::path& path)
    : handle_(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
    if (handle_ == nullptr) {
        const char* reason = dlerror();
        throw FileError(path.string(), 0,
                        std::string("cannot load the plug-in: ") +
                            (reason != nullptr ? reason : "unknown reason"));
    }
    create_ = reinterpret_cast<kelvane::CreatePinzInstanceFn>(
        symbol(handle_, kelvane::kCreatePinzInstance, path));
    delete_ = reinterpret_cast<kelvane::DeletePinzInstanceFn>(
        symbol(handle_, kelvane::kDeletePinzInstance, path));
}

PluginLibrary::~PluginLibrary() {
    dlclose(handle_);
}

}  // namespace host
