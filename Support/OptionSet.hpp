#pragma once

#include <concepts>
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <optional>
#include <utility>

namespace ravolet {

// The set algebra shared by every flag set over an unsigned raw value.
// `Derived` is the concrete set (for example ModifierFlags); every operation
// works on the raw bits, so unnamed bits are kept and compared like named ones.
template <class Derived, std::unsigned_integral Raw>
struct OptionSet {
    using RawValue = Raw;

    Raw rawValue = 0;

    constexpr OptionSet() = default;
    constexpr explicit OptionSet(Raw raw) : rawValue(raw) {}

    static constexpr Derived of(std::initializer_list<Derived> members) {
        Raw raw = 0;
        for (const Derived& m : members) raw = static_cast<Raw>(raw | m.rawValue);
        return Derived(raw);
    }

    constexpr bool isEmpty() const { return rawValue == 0; }
    constexpr bool contains(Derived other) const { return (rawValue & other.rawValue) == other.rawValue; }
    constexpr bool isSubset(Derived of) const { return (rawValue & ~of.rawValue) == 0; }
    constexpr bool isSuperset(Derived of) const { return of.isSubset(self()); }
    constexpr bool isDisjoint(Derived with) const { return (rawValue & with.rawValue) == 0; }

    constexpr Derived unionWith(Derived o) const { return Derived(static_cast<Raw>(rawValue | o.rawValue)); }
    constexpr Derived intersection(Derived o) const { return Derived(static_cast<Raw>(rawValue & o.rawValue)); }
    constexpr Derived symmetricDifference(Derived o) const { return Derived(static_cast<Raw>(rawValue ^ o.rawValue)); }
    constexpr Derived subtracting(Derived o) const { return Derived(static_cast<Raw>(rawValue & ~o.rawValue)); }

    constexpr void formUnion(Derived o) { rawValue = unionWith(o).rawValue; }
    constexpr void formIntersection(Derived o) { rawValue = intersection(o).rawValue; }
    constexpr void formSymmetricDifference(Derived o) { rawValue = symmetricDifference(o).rawValue; }
    constexpr void subtract(Derived o) { rawValue = subtracting(o).rawValue; }

    // Adds `member`; reports whether anything new was added, and the member.
    constexpr std::pair<bool, Derived> insert(Derived member) {
        const bool added = !contains(member);
        formUnion(member);
        return {added, member};
    }
    // Removes `member`; returns the part that was present, or nothing.
    constexpr std::optional<Derived> remove(Derived member) {
        const Derived present = intersection(member);
        subtract(member);
        if (present.isEmpty()) return std::nullopt;
        return present;
    }
    // Adds `member`; returns the part that was already present, or nothing.
    constexpr std::optional<Derived> update(Derived member) {
        const Derived present = intersection(member);
        formUnion(member);
        if (present.isEmpty()) return std::nullopt;
        return present;
    }

    friend constexpr Derived operator|(Derived a, Derived b) { return a.unionWith(b); }
    friend constexpr Derived operator&(Derived a, Derived b) { return a.intersection(b); }
    friend constexpr Derived operator^(Derived a, Derived b) { return a.symmetricDifference(b); }
    friend constexpr bool operator==(const OptionSet&, const OptionSet&) = default;

private:
    constexpr Derived self() const { return Derived(rawValue); }
};

} // namespace ravolet

// Every flag set hashes by its raw bits, like its equality.
template <class T>
    requires std::derived_from<T, ravolet::OptionSet<T, typename T::RawValue>>
struct std::hash<T> {
    std::size_t operator()(const T& set) const noexcept { return std::hash<typename T::RawValue>{}(set.rawValue); }
};
