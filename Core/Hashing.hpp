#pragma once

#include <cstddef>
#include <functional>

#include "Core/ValueSupport.hpp"

namespace ravolet {

// Mixes the hash of `value` into `seed` in place, with the same mixing as
// hashFields.
template <class T>
void hashCombine(std::size_t& seed, const T& value) {
    seed = hashCombine(seed, std::hash<T>{}(value));
}

// The combined hash of every argument, in order: hashFields under the name the
// value types of several modules use.
template <class... T>
std::size_t hashValues(const T&... values) {
    return hashFields(values...);
}

} // namespace ravolet
