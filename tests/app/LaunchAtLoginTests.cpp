#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Linux/AutostartLoginItemService.hpp"
#include "Platform/Simulated/InMemoryFileSystem.hpp"
#include "RavoletApp/Model/LaunchAtLogin.hpp"

namespace ravolet {
namespace {

using platform::AutostartLoginItemService;
using platform::InMemoryFileSystem;
using platform::LoginItemStatus;

TEST(LaunchAtLogin, MirrorsTheAutostartEntryAndKeepsTheLastFailure) {
    auto files = std::make_shared<InMemoryFileSystem>();
    const std::filesystem::path entry = "/home/user/.config/autostart/ravolet.desktop";
    auto service = std::make_shared<AutostartLoginItemService>(entry, "/usr/bin/ravolet", files);
    LaunchAtLogin login(service);
    int statusChanges = 0;
    auto watching = login.status().observe([&](LoginItemStatus) { ++statusChanges; });
    files->putFile(entry, "[Desktop Entry]\n");
    EXPECT_EQ(login.status().value(), LoginItemStatus::notRegistered) << "nothing asked before the first refresh";
    login.refresh();
    login.setEnabled(true); // already enabled: written again, no news
    EXPECT_EQ(statusChanges, 1);
    EXPECT_EQ(files->readFile(entry), "[Desktop Entry]\n"
                                      "Type=Application\n"
                                      "Name=Ravolet\n"
                                      "Comment=Starts Ravolet when you log in\n"
                                      "Exec=/usr/bin/ravolet --at-login\n"
                                      "Terminal=false\n"
                                      "X-GNOME-Autostart-enabled=true\n");
    EXPECT_EQ(login.status().value(), LoginItemStatus::enabled);

    // Switched off by the desktop's own settings, in the entry's group only.
    const std::vector<std::pair<std::string, LoginItemStatus>> entries = {
        {"[Desktop Entry]\nExec=ravolet\nHidden=true\n", LoginItemStatus::notRegistered},
        {"[Desktop Entry]\nX-GNOME-Autostart-enabled = false\nExec=ravolet\n", LoginItemStatus::notRegistered},
        {"[Desktop Entry]\nExec=ravolet\n[Desktop Action x]\nHidden=true\n", LoginItemStatus::enabled},
    };
    for (const auto& [text, status] : entries) {
        files->putFile(entry, text);
        EXPECT_EQ(service->status(), status) << text;
    }
    login.setEnabled(true);
    EXPECT_EQ(login.status().value(), LoginItemStatus::enabled) << "registering switches it back on";

    login.setEnabled(false);
    EXPECT_FALSE(files->exists(entry));
    EXPECT_EQ(login.status().value(), LoginItemStatus::notRegistered);
    login.setEnabled(false);
    EXPECT_EQ(login.lastError().value(), std::nullopt) << "an entry already gone is no error";

    files->fail(InMemoryFileSystem::Operation::write, EACCES);
    login.setEnabled(true);
    EXPECT_TRUE(login.lastError().value()->starts_with("cannot write " + entry.string() + ": ")) << *login.lastError().value();
    EXPECT_EQ(login.status().value(), LoginItemStatus::notRegistered);
    files->fail(InMemoryFileSystem::Operation::write, 0);
    login.setEnabled(true);
    files->fail(InMemoryFileSystem::Operation::remove, EACCES);
    login.setEnabled(false);
    EXPECT_TRUE(login.lastError().value()->starts_with("cannot remove " + entry.string() + ": "));
    EXPECT_EQ(login.status().value(), LoginItemStatus::enabled) << "read again, not assumed from the request";
    files->fail(InMemoryFileSystem::Operation::remove, 0);
    login.setEnabled(false);
    EXPECT_EQ(login.lastError().value(), std::nullopt) << "cleared by the next attempt";
}

TEST(AutostartLoginItemService, TheProgramsPathIsQuotedForTheExecLineWhichSaysItIsAStartAtLogin) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/usr/bin/ravolet", "Exec=/usr/bin/ravolet"},
        {"/opt/My Apps/ravolet", "Exec=\"/opt/My Apps/ravolet\""},
        // Escaped by the quoting, whose backslashes are escaped again as a string value.
        {"/opt/a$b`c\"d/ravolet", "Exec=\"/opt/a\\\\$b\\\\`c\\\\\"d/ravolet\""},
        {"/opt/a\\b/ravolet", "Exec=\"/opt/a\\\\\\\\b/ravolet\""},
        {"/opt/100%/ravolet", "Exec=/opt/100%%/ravolet"},
        {"/opt/new\nline", "Exec=\"/opt/new\\nline\""},
    };
    for (const auto& [program, line] : cases) {
        EXPECT_NE(AutostartLoginItemService::entryText(program).find("\n" + line + " --at-login\n"), std::string::npos)
            << AutostartLoginItemService::entryText(program);
    }
}

TEST(AutostartLoginItemService, TheEntryStartsTheInstalledProgramAndAPathNoEntryCanHoldIsRefused) {
    // Replaced by an upgrade while it runs, the program is still installed where it was.
    EXPECT_EQ(AutostartLoginItemService::installedPath("/usr/bin/ravolet (deleted)", true), "/usr/bin/ravolet");
    EXPECT_EQ(AutostartLoginItemService::installedPath("/opt/x (deleted)", false), "/opt/x (deleted)");
    EXPECT_EQ(AutostartLoginItemService::installedPath("/usr/bin/ravolet", true), "/usr/bin/ravolet");

    const auto files = std::make_shared<InMemoryFileSystem>();
    const std::filesystem::path entry = "/home/user/.config/autostart/ravolet.desktop";
    for (const std::string program : {"/opt/a\x01/ravolet", "/opt/new\nline", "/opt/del\x7f"}) {
        AutostartLoginItemService service(entry, program, files);
        const auto refused = service.registerItem();
        ASSERT_FALSE(refused);
        EXPECT_EQ(refused.error(), "the program's path holds a control character, which a desktop entry cannot hold");
        EXPECT_FALSE(files->exists(entry));
    }
}

} // namespace
} // namespace ravolet
