// The built plug-in library as the host sees it: loaded with dlopen, two entry points and
// nothing else exported, the values of the object's fields, the virtual slots in their order.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>

#include "kelvane/Pinz.h"
#include "kelvane/Text.h"
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

template <typename T>
T valueAt(const uint8_t* object, std::size_t offset) {
    T value;
    std::memcpy(&value, object + offset, sizeof value);
    return value;
}

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

TEST(PluginLibrary, InstanceCarriesItsPinInformationAtTheHostsOffsets) {
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
    const auto* object = reinterpret_cast<const uint8_t*>(instance);

    // The layout is fixed in the SDK's header; these are the values the library puts there.
    EXPECT_EQ(instance->GetPinInfo()->PinType, 11);
    EXPECT_EQ(kelvane::FieldText(instance->GetPinInfo()->Name), u"TCP Server");
    EXPECT_EQ(kelvane::FieldText(instance->GetPinInfo()->Description),
              u"TCP Server Plugin Library");
    EXPECT_EQ(valueAt<int32_t>(object, 1460), 3);  // pin kind
    EXPECT_EQ(valueAt<int32_t>(object, 1512), 1);
    EXPECT_NE(valueAt<void*>(object, 1436), nullptr);  // the information form

    // Slots as the host calls them: 0 GetName, 1 GetIcon, 16 GetMaxChild, 17 Connect.
    void* const* vtable = valueAt<void* const*>(object, 0);
    using GetNameSlot = const char16_t* (*)(kelvane::TPinzBase*);
    using GetIconSlot = void* (*)(kelvane::TPinzBase*);
    using GetMaxChildSlot = int32_t (*)(kelvane::TPinzBase*, kelvane::TPinzBase*);
    using ConnectSlot = int32_t (*)(kelvane::TPinzBase*, void*);
    EXPECT_EQ(std::u16string(reinterpret_cast<GetNameSlot>(vtable[0])(instance)), u"DAQServer");
    EXPECT_EQ(valueAt<void*>(object, 1504), reinterpret_cast<GetIconSlot>(vtable[1])(instance));
    EXPECT_EQ(reinterpret_cast<GetMaxChildSlot>(vtable[16])(instance, nullptr), 1);
    EXPECT_EQ(reinterpret_cast<ConnectSlot>(vtable[17])(instance, nullptr), 1);
    EXPECT_EQ(valueAt<int32_t>(object, 1468), 1);  // connected

    destroy(instance);  // slot 28, the deleting destructor
}
