// Host callbacks: a code pointer and a data pointer (16 bytes), compared by both.
#pragma once

#include <utility>

namespace kelvane {

template <typename Signature>
struct TClosure;

template <typename R, typename... Args>
struct TClosure<R(Args...)> {
    using Code = R (*)(void* data, Args...);

    Code code = nullptr;
    void* data = nullptr;

    // Binds a member function of an object: TClosure<...>::bind<&C::method>(object).
    template <auto Method, typename C>
    static TClosure bind(C* object) {
        return {[](void* self, Args... args) -> R {
                    return (static_cast<C*>(self)->*Method)(std::forward<Args>(args)...);
                },
                object};
    }

    explicit operator bool() const { return code != nullptr; }
    R operator()(Args... args) const { return code(data, std::forward<Args>(args)...); }
    friend bool operator==(const TClosure& a, const TClosure& b) {
        return a.code == b.code && a.data == b.data;
    }
};

static_assert(sizeof(TClosure<void()>) == 16);

}  // namespace kelvane
