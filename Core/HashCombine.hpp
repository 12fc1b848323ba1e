#pragma once

#include <cstddef>
#include <functional>

namespace ravolet {

// Folds the hash of `value` into `seed`, so that a record hashes its fields in
// order and two records differing in any field (or in field order) differ.
template <class T>
void hashCombine(std::size_t& seed, const T& value) {
    seed ^= std::hash<T>{}(value) + 0x9e3779b97f4a7c15ull + (seed << 6) + (seed >> 2);
}

} // namespace ravolet
