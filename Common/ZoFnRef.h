// A reference to something callable, for a parameter that is only called
// during the call it is passed to: nothing is copied or allocated, and each
// callable type adds one small function where std::function adds a manager,
// an invoker and the code that builds and destroys it at every call site.
#pragma once

#include <cstddef>
#include <memory>
#include <type_traits>
#include <utility>

template <class Signature>
class TFnRef;

template <class R, class... A>
class TFnRef<R(A...)> {
public:
    TFnRef() noexcept = default;
    TFnRef(std::nullptr_t) noexcept {}
    // The callable must outlive every call through this reference.
    template <class F, class = std::enable_if_t<!std::is_same_v<std::remove_cvref_t<F>, TFnRef> &&
                                                std::is_invocable_r_v<R, F&, A...>>>
    TFnRef(F&& f) noexcept  // NOLINT: stands wherever a callable does
        : object_(const_cast<void*>(static_cast<const void*>(std::addressof(f)))),
          call_(&Call<std::remove_reference_t<F>>)
    {
    }

    R operator()(A... args) const { return call_(object_, std::forward<A>(args)...); }
    explicit operator bool() const noexcept { return call_ != nullptr; }

private:
    template <class F>
    static R Call(void* object, A... args)
    {
        return (*static_cast<F*>(object))(std::forward<A>(args)...);
    }

    void* object_ = nullptr;
    R (*call_)(void*, A...) = nullptr;
};
