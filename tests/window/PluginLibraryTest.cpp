// The built plug-in library as the host sees it: loaded with dlopen, two entry points and
// nothing else exported (the object's layout is fixed by the SDK's header).
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <set>
#include <string>

#include "kelvane/Pinz.h"
#include "tests/window/PluginTestSupport.h"

namespace {

const std::string kLibrary = std::string(DAQ_BIN_DIR) + "/libdaqserver.so";

class Library {
  public:
    Library() : handle_(dlopen(kLibrary.c_str(), RTLD_NOW | RTLD_LOCAL)) {}
    ~Library() {
        if (handle_ != nullptr) {
            dlclose(handle_);
        }
    }
    void* handle() const { return handle_; }
    template <typename T>
    T symbol(const char* name) const {
        return reinterpret_cast<T>(dlsym(handle_, name));
    }

  private:
    void* handle_;
};

}  // namespace

TEST(PluginLibrary, ExportsExactlyTheTwoEntryPoints) {
    const std::string command = "nm -D --defined-only " + kLibrary;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    ASSERT_NE(pipe, nullptr);
    std::set<std::string> exported;
    char line[512];
    while (std::fgets(line, sizeof line, pipe.get()) != nullptr) {
        char address[64], type[8], name[400];
        if (std::sscanf(line, "%63s %7s %399s", address, type, name) == 3) {
            exported.insert(name);
        }
    }
    EXPECT_EQ(exported, (std::set<std::string>{"CreatePinzInstance", "DeletePinzInstance"}));
}

TEST(PluginLibrary, EntryPointsMakeAndDeleteAServerInstance) {
    Library library;
    ASSERT_NE(library.handle(), nullptr) << dlerror();
    auto create = library.symbol<kelvane::CreatePinzInstanceFn>(kelvane::kCreatePinzInstance);
    auto destroy = library.symbol<kelvane::DeletePinzInstanceFn>(kelvane::kDeletePinzInstance);
    ASSERT_NE(create, nullptr);
    ASSERT_NE(destroy, nullptr);

    destroy(nullptr);  // does nothing
    kelvane::TPinzBase* instance =
        create(&HostApplicationEnvironment::application(), nullptr, 0, false, nullptr);
    ASSERT_NE(instance, nullptr);
    EXPECT_EQ(instance->GetPinInfo()->PinType, 11);  // the host files it under its servers
    destroy(instance);
}
