#pragma once
// Property setters of the models: store a value and emit the property's change
// signal, but only when the value differs, so a view bound to it redraws once
// per real change and never loops on an echo.

#include <type_traits>

namespace foundation {

// Returns whether the value changed (and the signal went out).
template<typename Owner, typename T>
bool storeAndNotify(Owner &owner, T &field, const std::type_identity_t<T> &value,
                    void (std::type_identity_t<Owner>::*changed)())
{
    if (field == value)
        return false;
    field = value;
    (owner.*changed)();
    return true;
}

} // namespace foundation
