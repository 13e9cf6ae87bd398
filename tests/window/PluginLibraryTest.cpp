// The built plug-in library as the host sees it: two entry points and nothing else exported (the
// object's layout is fixed by the SDK's header).
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <set>
#include <string>

#include "host/session/PluginLibrary.h"
#include "kelvane/Pinz.h"
#include "tests/window/PluginTestSupport.h"

namespace {

const std::string kLibrary = std::string(DAQ_BIN_DIR) + "/libdaqserver.so";

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

// Loaded as the host loads it.
TEST(PluginLibrary, EntryPointsMakeAndDeleteAServerInstance) {
    const host::PluginLibrary library(kLibrary);
    library.destroy()(nullptr);  // does nothing
    kelvane::TPinzBase* instance =
        library.create()(&HostApplicationEnvironment::application(), nullptr, 0, false, nullptr);
    ASSERT_NE(instance, nullptr);
    EXPECT_EQ(instance->GetPinInfo()->PinType, 11);  // the host files it under its servers
    library.destroy()(instance);
}
