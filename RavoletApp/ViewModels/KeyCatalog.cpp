#include "RavoletApp/ViewModels/KeyCatalog.hpp"

#include <fmt/format.h>

#include <vector>

#include "Support/ValueSupport.hpp"

namespace ravolet {

namespace {

struct Row {
    std::uint16_t code;
    std::string_view name;
};

struct Group {
    std::string_view name;
    std::span<const Row> rows;
};

constexpr Row letters[] = {
    {0, "A"},  {11, "B"}, {8, "C"},  {2, "D"},  {14, "E"}, {3, "F"},  {5, "G"},  {4, "H"},  {34, "I"},
    {38, "J"}, {40, "K"}, {37, "L"}, {46, "M"}, {45, "N"}, {31, "O"}, {35, "P"}, {12, "Q"}, {15, "R"},
    {1, "S"},  {17, "T"}, {32, "U"}, {9, "V"},  {13, "W"}, {7, "X"},  {16, "Y"}, {6, "Z"},
};
constexpr Row numbers[] = {
    {29, "0"}, {18, "1"}, {19, "2"}, {20, "3"}, {21, "4"}, {23, "5"}, {22, "6"}, {26, "7"}, {28, "8"}, {25, "9"},
};
constexpr Row functionKeys[] = {
    {122, "F1"},  {120, "F2"},  {99, "F3"},   {118, "F4"},  {96, "F5"},   {97, "F6"},  {98, "F7"},
    {100, "F8"},  {101, "F9"},  {109, "F10"}, {103, "F11"}, {111, "F12"}, {105, "F13"}, {107, "F14"},
    {113, "F15"}, {106, "F16"}, {64, "F17"},  {79, "F18"},  {80, "F19"},  {90, "F20"},
};
constexpr Row editing[] = {
    {36, "Return"}, {48, "Tab"},   {49, "Space"}, {51, "Backspace"}, {117, "Delete"}, {53, "Escape"},
    {114, "Insert"}, {115, "Home"}, {119, "End"},  {116, "Page Up"}, {121, "Page Down"},
};
constexpr Row arrows[] = {
    {123, "Left Arrow"}, {124, "Right Arrow"}, {126, "Up Arrow"}, {125, "Down Arrow"},
};
constexpr Row punctuation[] = {
    {27, "-"}, {24, "="}, {33, "["}, {30, "]"}, {42, "\\"}, {41, ";"}, {39, "'"}, {43, ","}, {47, "."}, {44, "/"}, {50, "`"},
};
constexpr Row keypad[] = {
    {82, "Keypad 0"}, {83, "Keypad 1"}, {84, "Keypad 2"}, {85, "Keypad 3"}, {86, "Keypad 4"}, {87, "Keypad 5"},
    {88, "Keypad 6"}, {89, "Keypad 7"}, {91, "Keypad 8"}, {92, "Keypad 9"}, {69, "Keypad +"}, {78, "Keypad -"},
    {67, "Keypad ×"}, {75, "Keypad ÷"}, {76, "Keypad Enter"}, {65, "Keypad ."},
};

constexpr std::array<Group, 7> groups{{
    {KeyCatalog::groupOrder[0], letters},
    {KeyCatalog::groupOrder[1], numbers},
    {KeyCatalog::groupOrder[2], functionKeys},
    {KeyCatalog::groupOrder[3], editing},
    {KeyCatalog::groupOrder[4], arrows},
    {KeyCatalog::groupOrder[5], punctuation},
    {KeyCatalog::groupOrder[6], keypad},
}};

// Every listed code is below this bound, so names are found by direct index.
constexpr std::size_t codeBound = 128;

struct Tables {
    std::vector<KeyCatalog::Key> all;
    std::array<std::span<const KeyCatalog::Key>, groups.size()> byGroup;
    std::array<const std::string*, codeBound> namesByCode{};

    Tables() {
        for (const Group& group : groups) {
            for (const Row& row : group.rows) {
                all.push_back({row.code, std::string(row.name), std::string(group.name)});
            }
        }
        std::size_t start = 0;
        for (std::size_t g = 0; g < groups.size(); ++g) {
            byGroup[g] = std::span<const KeyCatalog::Key>(all).subspan(start, groups[g].rows.size());
            start += groups[g].rows.size();
        }
        for (const KeyCatalog::Key& key : all) {
            namesByCode[key.code] = &key.name;
        }
    }
};

// Built by the first caller; the language makes that one-time and thread-safe.
const Tables& tables() {
    static const Tables built;
    return built;
}



} // namespace

std::span<const KeyCatalog::Key> KeyCatalog::all() { return tables().all; }

std::string KeyCatalog::name(std::uint16_t code) {
    if (code < codeBound) {
        if (const std::string* name = tables().namesByCode[code]) return *name;
    }
    return fmt::format("Key {}", code);
}

std::string KeyCatalog::held(ModifierFlags modifiers) {
    std::string text;
    for (const EditableModifier& modifier : ModifierFlags::editable) {
        if (!modifiers.contains(modifier.flag)) continue;
        if (!text.empty()) text += " + ";
        text += modifier.name;
    }
    return text;
}

std::string KeyCatalog::spelledOut(ModifierFlags modifiers) {
    std::string text = held(modifiers);
    return text.empty() ? "no modifiers" : text;
}

std::string KeyCatalog::chord(ModifierFlags modifiers, std::uint16_t code) {
    std::string text = held(modifiers);
    return text.empty() ? name(code) : text + " + " + name(code);
}

std::span<const KeyCatalog::Key> KeyCatalog::keys(std::string_view group) {
    for (std::size_t g = 0; g < groupOrder.size(); ++g) {
        if (groupOrder[g] == group) return tables().byGroup[g];
    }
    return {};
}

} // namespace ravolet

std::size_t std::hash<ravolet::KeyCatalog::Key>::operator()(const ravolet::KeyCatalog::Key& key) const noexcept {
    return ravolet::hashFields(key.code, key.name, key.group);
}
