#pragma once

#include <cstddef>
#include <functional>

namespace ravolet {

// Mixes the hash of `value` into `seed`, so that records hash over all their
// fields in order (the boost recipe, widened to 64 bits).
template <class T>
constexpr void hashCombine(std::size_t& seed, const T& value) {
    seed ^= std::hash<T>{}(value) + 0x9e3779b97f4a7c15ull + (seed << 6) + (seed >> 2);
}

// The combined hash of every argument, in order.
template <class... T>
constexpr std::size_t hashValues(const T&... values) {
    std::size_t seed = 0;
    (hashCombine(seed, values), ...);
    return seed;
}

} // namespace ravolet
