#pragma once

#include <cstddef>

#include "Core/ValueSupport.hpp"

namespace ravolet {

// The combined hash of every argument, in order: the same mixing as
// hashFields, under the name the value types of several modules use.
template <class... T>
std::size_t hashValues(const T&... values) {
    return hashFields(values...);
}

} // namespace ravolet
