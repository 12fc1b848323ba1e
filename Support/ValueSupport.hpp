#pragma once

// Header-only helpers for plain values, shared by every module (the core model,
// the HID++ client, the engine): visiting a variant with a set of lambdas, and
// hashing several fields into one value. Standard library only, so that using
// them adds no dependency between modules.

#include <cstddef>
#include <functional>

namespace ravolet {

// Visits a variant with one lambda per alternative.
template <class... Fs>
struct Overloaded : Fs... {
    using Fs::operator()...;
};
template <class... Fs>
Overloaded(Fs...) -> Overloaded<Fs...>;

// The seed with `value` mixed in.
[[nodiscard]] inline std::size_t hashCombine(std::size_t seed, std::size_t value) {
    return seed ^ (value + 0x9e3779b97f4a7c15ull + (seed << 6) + (seed >> 2));
}

// Mixes the hash of `value` into `seed` in place.
template <class T>
void hashCombineInPlace(std::size_t& seed, const T& value) {
    seed = hashCombine(seed, std::hash<T>{}(value));
}

// The hash of several fields, each through its std::hash. std::hash<double>
// hashes 0 and -0 alike, matching their equality.
template <class... Ts>
std::size_t hashFields(const Ts&... fields) {
    std::size_t seed = 0;
    ((seed = hashCombine(seed, std::hash<Ts>{}(fields))), ...);
    return seed;
}

} // namespace ravolet
