#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "Core/ModifierFlags.hpp"

namespace ravolet {

// The keyboard keys a mouse button may send. A key is stored as the host's
// virtual key code, which names a physical key position and so survives a
// change of keyboard layout; the catalogue names those codes, offers them by
// group to the key pickers and writes modifier sets as symbols or words.
//
// Its tables are built once, on first use, and only read afterwards, so every
// operation may be called from any thread.
class KeyCatalog {
public:
    struct Key {
        std::uint16_t code = 0;
        std::string name;
        std::string group;

        std::uint16_t id() const { return code; }
        friend bool operator==(const Key&, const Key&) = default;
    };

    KeyCatalog() = delete;

    // The groups in the order the pickers list them; `all` follows it too.
    static constexpr std::array<std::string_view, 7> groupOrder{
        "Letters", "Numbers", "Function", "Editing", "Arrows", "Punctuation", "Keypad"};

    // Every key, group by group; every code occurs once.
    static std::span<const Key> all();

    // The key's name, or "Key <code>" for a code the catalogue does not list.
    static std::string name(std::uint16_t code);

    // The names of the modifiers contained in the set, always in the order
    // Ctrl, Alt, Shift, Super, Fn, joined by " + "; caps lock and unnamed
    // bits are left out, so an empty set gives "".
    static std::string held(ModifierFlags modifiers);

    // As held(), but "no modifiers" when none of them is contained.
    static std::string spelledOut(ModifierFlags modifiers);

    // The modifiers, then the key's name: "Ctrl + Shift + K", or "K".
    static std::string chord(ModifierFlags modifiers, std::uint16_t code);

    // The keys of exactly this group (case-sensitive), in catalogue order;
    // nothing for a name that is not a group.
    static std::span<const Key> keys(std::string_view group);
};

} // namespace ravolet

template <>
struct std::hash<ravolet::KeyCatalog::Key> {
    std::size_t operator()(const ravolet::KeyCatalog::Key& key) const noexcept;
};
