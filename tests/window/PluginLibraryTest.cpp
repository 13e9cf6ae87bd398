// The built plug-in library as the host sees it: loaded with dlopen, two entry points and
// nothing else exported, the object's pin information at its fixed offsets, the virtual slots
// in their order.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
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

std::u16string textAt(const uint8_t* object, std::size_t offset) {
    std::u16string text;
    for (char16_t unit; std::memcpy(&unit, object + offset + 2 * text.size(), 2), unit != 0;) {
        text.push_back(unit);
    }
    return text;
}

template <typename T>
T valueAt(const uint8_t* object, std::size_t offset) {
    T value;
    std::memcpy(&value, object + offset, sizeof value);
    return value;
}

bool zeroFrom(const uint8_t* object, std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i) {
        if (object[i] != 0) {
            return false;
        }
    }
    return true;
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

    constexpr std::size_t kPin = 8;  // the pin information follows the virtual-table pointer
    EXPECT_EQ(valueAt<int32_t>(object, kPin + 0), 11);
    EXPECT_EQ(valueAt<int32_t>(object, kPin + 4), 0);
    EXPECT_EQ(textAt(object, kPin + 8), u"TCP Server");
    EXPECT_TRUE(zeroFrom(object, kPin + 8 + 2 * 10, kPin + 264));
    EXPECT_EQ(textAt(object, kPin + 264), u"1.0.0.1");
    EXPECT_EQ(textAt(object, kPin + 328), u"TCP Server Plugin Library");
    EXPECT_EQ(textAt(object, kPin + 840), u"TCP Server Plugin Library");
    EXPECT_EQ(textAt(object, kPin + 1352), u"2010.08.29");
    EXPECT_TRUE(zeroFrom(object, kPin + 1352 + 2 * 10, kPin + 1420));
    EXPECT_EQ(reinterpret_cast<const void*>(instance->GetPinInfo()), object + kPin);

    EXPECT_NE(valueAt<void*>(object, 1436), nullptr);  // the information form
    EXPECT_EQ(valueAt<void*>(object, 1444), nullptr);  // the library's own application
    EXPECT_EQ(valueAt<int32_t>(object, 1460), 3);
    EXPECT_EQ(valueAt<int32_t>(object, 1468), 0);  // not connected
    EXPECT_EQ(valueAt<void*>(object, 1472), nullptr);
    EXPECT_EQ(valueAt<int32_t>(object, 1480), 0);      // no children
    EXPECT_EQ(valueAt<void*>(object, 1504), nullptr);  // no icon before GetIcon
    EXPECT_EQ(valueAt<int32_t>(object, 1512), 1);

    // Slots as the host calls them: 0 GetName, 1 GetIcon, 16 GetMaxChild, 17 Connect.
    void* const* vtable = valueAt<void* const*>(object, 0);
    using GetNameSlot = const char16_t* (*)(kelvane::TPinzBase*);
    using GetIconSlot = void* (*)(kelvane::TPinzBase*);
    using GetMaxChildSlot = int32_t (*)(kelvane::TPinzBase*, kelvane::TPinzBase*);
    using ConnectSlot = int32_t (*)(kelvane::TPinzBase*, void*);
    EXPECT_EQ(std::u16string(reinterpret_cast<GetNameSlot>(vtable[0])(instance)), u"DAQServer");
    void* icon = reinterpret_cast<GetIconSlot>(vtable[1])(instance);
    EXPECT_NE(icon, nullptr);
    EXPECT_EQ(valueAt<void*>(object, 1504), icon);
    EXPECT_EQ(reinterpret_cast<GetMaxChildSlot>(vtable[16])(instance, nullptr), 1);
    EXPECT_EQ(reinterpret_cast<ConnectSlot>(vtable[17])(instance, nullptr), 1);
    EXPECT_EQ(valueAt<int32_t>(object, 1468), 1);

    destroy(instance);  // slot 28, the deleting destructor
}
