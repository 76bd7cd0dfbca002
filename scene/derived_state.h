#pragma once

#include <memory>
#include <utility>

namespace fyrel {

// Room in a scene record for state that a layer above derives from it and
// keeps beside it: animation's sampling and skin forms, render's GPU
// buffers. The record holds the state without knowing its type; the layer
// that made it is the only one that reads it back, with the same type.
//
// The state is never copied with its record: a copy, or the target of an
// assignment, starts without it and the owning layer builds it again when
// it next needs it (and checks it against the record on every use).
class DerivedState {
public:
    DerivedState() = default;
    DerivedState(const DerivedState&) {}
    DerivedState& operator=(const DerivedState&)
    {
        reset();
        return *this;
    }

    // The state as T, made (value-initialised) when there is none yet.
    template <typename T>
    T& get()
    {
        if (!state_) {
            state_ = Holder(new T{}, [](void* p) { delete static_cast<T*>(p); });
        }
        return *static_cast<T*>(state_.get());
    }

    // The state as T, or null when there is none.
    template <typename T>
    T* find() const
    {
        return static_cast<T*>(state_.get());
    }

    // Ends the state (its destructor runs).
    void reset() { state_.reset(); }

private:
    using Holder = std::unique_ptr<void, void (*)(void*)>;
    Holder state_{nullptr, [](void*) {}};
};

}  // namespace fyrel
