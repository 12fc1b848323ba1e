#include "Platform/HostKeyCodes.hpp"

#include <linux/input-event-codes.h>

#include <gtest/gtest.h>

#include <set>

namespace ravolet::platform {
namespace {

TEST(HostKeyCodes, EachLinuxKeyHasOneHostCodeAndEachHostCodeOnePreferredKey) {
    std::set<std::uint16_t> evdevCodes;
    for (const HostKeyCodePair& pair : hostKeyCodePairs()) {
        EXPECT_TRUE(evdevCodes.insert(pair.evdevCode).second) << "evdev " << pair.evdevCode << " listed twice";
        EXPECT_EQ(hostKeyCode(pair.evdevCode), pair.hostCode) << "evdev " << pair.evdevCode;
        // Sending the host code presses a key that reads back as that code.
        const auto sent = evdevKeyCode(pair.hostCode);
        ASSERT_TRUE(sent) << "host " << pair.hostCode;
        EXPECT_EQ(hostKeyCode(*sent), pair.hostCode) << "host " << pair.hostCode;
    }

    // Where several keys share a position, the first listed is the one sent.
    const struct {
        std::uint16_t alias;
        std::uint16_t preferred;
    } shared[] = {{KEY_HELP, KEY_INSERT}, {KEY_SYSRQ, KEY_F13}, {KEY_SCROLLLOCK, KEY_F14}, {KEY_PAUSE, KEY_F15}};
    for (const auto& row : shared) {
        EXPECT_EQ(evdevKeyCode(*hostKeyCode(row.alias)), row.preferred) << row.alias;
    }

    for (std::uint16_t unknown : {0, KEY_PROG1, KEY_MAX, KEY_MAX + 1, 0xFFFF}) {
        EXPECT_EQ(hostKeyCode(unknown), std::nullopt) << unknown;
    }
    for (std::uint16_t unknown : {68, 108, 127, 128, 0xFFFF}) {
        EXPECT_EQ(evdevKeyCode(unknown), std::nullopt) << unknown;
    }
}

} // namespace
} // namespace ravolet::platform
