// The library's two entry points, the only symbols the host looks up by name.
#include <cstdint>
#include <type_traits>

#include "kelvane/Pinz.h"
#include "plugin/TPinzKV.h"

#define PINZ_EXPORT extern "C" __attribute__((visibility("default")))

PINZ_EXPORT kelvane::TPinzBase* CreatePinzInstance(kelvane::TApplication* application,
                                                   kelvane::TPinzBase* parent, int32_t, bool noForm,
                                                   void* user) {
    // The support check accepts every parent and node type. A constructor that throws leaves
    // nothing allocated; the exception goes to the host.
    return new daq::TPinzKV(application, parent, noForm, user);
}

PINZ_EXPORT void DeletePinzInstance(kelvane::TPinzBase* instance) {
    // Through the deleting destructor.
    delete instance;
}

// The entry points keep the host's declared signatures.
static_assert(std::is_same_v<decltype(&CreatePinzInstance), kelvane::CreatePinzInstanceFn>);
static_assert(std::is_same_v<decltype(&DeletePinzInstance), kelvane::DeletePinzInstanceFn>);
