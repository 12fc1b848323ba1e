#include "RavoletApp/ViewModels/KeyCatalog.hpp"

#include <gtest/gtest.h>

#include <set>
#include <vector>

namespace ravolet {
namespace {

TEST(KeyCatalog, TheTableRunsGroupByGroupWithEveryCodeOnce) {
    const std::vector<std::size_t> sizes{26, 10, 20, 11, 4, 11, 16};
    std::vector<KeyCatalog::Key> concatenated;
    for (std::size_t g = 0; g < KeyCatalog::groupOrder.size(); ++g) {
        const auto rows = KeyCatalog::keys(KeyCatalog::groupOrder[g]);
        EXPECT_EQ(rows.size(), sizes[g]) << KeyCatalog::groupOrder[g];
        for (const KeyCatalog::Key& key : rows) EXPECT_EQ(key.group, KeyCatalog::groupOrder[g]);
        concatenated.insert(concatenated.end(), rows.begin(), rows.end());
    }
    const auto all = KeyCatalog::all();
    EXPECT_EQ(std::vector<KeyCatalog::Key>(all.begin(), all.end()), concatenated);
    ASSERT_EQ(all.size(), 98u);

    std::set<std::uint16_t> codes;
    for (const KeyCatalog::Key& key : all) {
        EXPECT_TRUE(codes.insert(key.code).second) << "code " << key.code << " occurs twice";
        EXPECT_EQ(KeyCatalog::name(key.code), key.name);
    }

    const auto keypad = KeyCatalog::keys("Keypad");
    EXPECT_EQ(keypad.front().name, "Keypad 0");
    EXPECT_EQ(keypad.back().name, "Keypad .");
    EXPECT_TRUE(KeyCatalog::keys("letters").empty());
    EXPECT_TRUE(KeyCatalog::keys("").empty());
}

TEST(KeyCatalog, NamesAKeyOrFallsBackToItsNumber) {
    const struct {
        std::uint16_t code;
        const char* name;
    } rows[] = {{0, "A"},      {50, "`"},      {67, "Keypad ×"},   {71, "Key 71"},
                {55, "Key 55"}, {128, "Key 128"}, {65535, "Key 65535"}};
    for (const auto& row : rows) EXPECT_EQ(KeyCatalog::name(row.code), row.name) << row.code;
}

TEST(KeyCatalog, ModifiersReadInTheirFixedOrderWithoutCapsLock) {
    using M = ModifierFlags;
    const auto all5 = M::of({M::function, M::command, M::shift, M::option, M::control});
    const struct {
        ModifierFlags modifiers;
        const char* spelledOut;
        const char* chord; // with K
    } rows[] = {
        {M::none, "no modifiers", "K"},
        {M::capsLock, "no modifiers", "K"},
        {M(0x100), "no modifiers", "K"},
        {M::command, "Super", "Super + K"},
        {M::of({M::command, M::shift}), "Shift + Super", "Shift + Super + K"},
        {M::of({M::shift, M::command}), "Shift + Super", "Shift + Super + K"},
        {M::of({M::function, M::control}), "Ctrl + Fn", "Ctrl + Fn + K"},
        {all5, "Ctrl + Alt + Shift + Super + Fn", "Ctrl + Alt + Shift + Super + Fn + K"},
        {all5 | M::capsLock | M(0x10000), "Ctrl + Alt + Shift + Super + Fn", "Ctrl + Alt + Shift + Super + Fn + K"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(KeyCatalog::spelledOut(row.modifiers), row.spelledOut) << row.modifiers.rawValue;
        EXPECT_EQ(KeyCatalog::chord(row.modifiers, 40), row.chord) << row.modifiers.rawValue;
    }

    std::vector<std::string_view> names;
    for (const EditableModifier& modifier : ModifierFlags::editable) names.push_back(modifier.name);
    EXPECT_EQ(names, (std::vector<std::string_view>{"Ctrl", "Alt", "Shift", "Super", "Fn"}));
}

} // namespace
} // namespace ravolet
