#pragma once

#include <cstddef>
#include <functional>

namespace ravolet {

// Folds the hashes of several fields, in order, into one value. Every HID++
// value type hashes over all of its fields with this.
template <class... Fields>
std::size_t hidppHash(const Fields&... fields) {
    std::size_t seed = 0;
    ((seed ^= std::hash<Fields>{}(fields) + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2)), ...);
    return seed;
}

} // namespace ravolet
