#include <gtest/gtest.h>

#include <algorithm>

#include "Platform/Linux/Desktop/DesktopExec.hpp"
#include "Platform/Linux/DesktopEntryCatalogue.hpp"
#include "Platform/Simulated/InMemoryFileSystem.hpp"

namespace ravolet::platform {
namespace {

std::string entry(std::string_view name, std::string_view extra = "") {
    return "# comment\n[Desktop Entry]\nType=Application\nName=" + std::string(name) + "\nName[de]=Anders\n" +
           std::string(extra) + "\n[Desktop Action new]\nName=New Window\nHidden=true\n";
}

struct DesktopEntryCatalogueTest : ::testing::Test {
    std::shared_ptr<InMemoryFileSystem> files = std::make_shared<InMemoryFileSystem>();
    std::shared_ptr<DesktopEntryCatalogue> catalogue =
        DesktopEntryCatalogue::forEnvironment(files, std::nullopt, "/usr/local/share:relative:/usr/share", "/home/u");

    void SetUp() override {
        files->putFile("/usr/share/applications/org.mozilla.firefox.desktop", entry("Firefox", "Icon=firefox"));
        files->putFile("/usr/share/applications/kde4/okular.desktop", entry("Okular"));
        files->putFile("/usr/share/applications/gimp.desktop", entry("GIMP"));
        files->putFile("/home/u/.local/share/applications/gimp.desktop", entry("My GIMP"));
        files->putFile("/usr/local/share/applications/old.desktop", entry("Old"));
        files->putFile("/home/u/.local/share/applications/old.desktop", entry("Old", "Hidden=true"));
        files->putFile("/usr/share/applications/link.desktop", "[Desktop Entry]\nType=Link\nName=Site\n");
        files->putFile("/usr/share/applications/nameless.desktop", "[Desktop Entry]\nType=Application\n");
        files->putFile("/usr/share/applications/escaped.desktop", entry("Tab\\sand\\\\more", "Icon = /opt/e.png "));
        files->putFile("/home/u/Desktop/copy.desktop", entry("Copy"));
        files->putFile("/home/u/notes.txt", entry("Not an entry name"));
        files->putFile("/usr/share/applications/org/kde-apps/a-b.desktop", entry("Nested"));
        files->putFile("/usr/share/applications/helper.desktop", entry("Helper", "NoDisplay=true"));
    }
};

TEST_F(DesktopEntryCatalogueTest, TheFirstFolderWithAnIdentifierDecidesWhatItIs) {
    EXPECT_EQ(catalogue->folders(),
              (std::vector<std::filesystem::path>{"/home/u/.local/share/applications", "/usr/local/share/applications",
                                                  "/usr/share/applications"}));
    struct Row {
        std::string id;
        std::optional<DesktopApplication> expected;
    };
    const std::vector<Row> rows = {
        {"org.mozilla.firefox",
         DesktopApplication{"org.mozilla.firefox", "Firefox", "/usr/share/applications/org.mozilla.firefox.desktop",
                            "firefox"}},
        {"kde4-okular", DesktopApplication{"kde4-okular", "Okular", "/usr/share/applications/kde4/okular.desktop", ""}},
        {"gimp", DesktopApplication{"gimp", "My GIMP", "/home/u/.local/share/applications/gimp.desktop", ""}},
        {"escaped", DesktopApplication{"escaped", "Tab and\\more", "/usr/share/applications/escaped.desktop", "/opt/e.png"}},
        {"old", std::nullopt},      // the user's hidden copy hides the system's entry
        {"link", std::nullopt},     // not an application
        {"nameless", std::nullopt}, // no name
        {"missing", std::nullopt},
        {"", std::nullopt},
        {"kde4/okular", std::nullopt},
        {"kde4-..-gimp", std::nullopt}, // no way out of the folder
        {"..-..-..-home-u-Desktop-copy", std::nullopt},
        {"org-kde-apps-a-b",
         DesktopApplication{"org-kde-apps-a-b", "Nested", "/usr/share/applications/org/kde-apps/a-b.desktop", ""}},
        {"org-kde-apps-a-b" + std::string(4096, '-'), std::nullopt}, // longer than any entry's path
    };
    for (const Row& row : rows) EXPECT_EQ(catalogue->application(row.id), row.expected) << row.id;
}

TEST_F(DesktopEntryCatalogueTest, TheInstalledApplicationsAreEveryShownEntryOnceAsItsIdentifierFindsIt) {
    std::vector<std::string> listed;
    for (const DesktopApplication& application : catalogue->installedApplications()) {
        EXPECT_EQ(catalogue->application(application.bundleID), application);
        listed.push_back(application.bundleID);
    }
    std::ranges::sort(listed);
    // Not the hidden "old", the link, the nameless entry, nor the helper that menus leave out.
    EXPECT_EQ(listed, (std::vector<std::string>{"escaped", "gimp", "kde4-okular", "org-kde-apps-a-b",
                                                "org.mozilla.firefox"}));
    EXPECT_FALSE(catalogue->application("helper")->showsInMenus);
}

TEST_F(DesktopEntryCatalogueTest, AChosenFileIsNamedByItsPlaceBelowAnApplicationsFolder) {
    struct Row {
        std::filesystem::path file;
        std::optional<std::string> expected;
    };
    const std::vector<Row> rows = {
        {"/usr/share/applications/org.mozilla.firefox.desktop", "org.mozilla.firefox"},
        {"/usr/share/applications/kde4/./okular.desktop", "kde4-okular"},
        {"/home/u/Desktop/copy.desktop", "copy"},
        {"/usr/share/applications/link.desktop", std::nullopt},
        {"/home/u/notes.txt", std::nullopt},
        {"/usr/share/applications/gone.desktop", std::nullopt},
    };
    for (const Row& row : rows) EXPECT_EQ(catalogue->bundleIDOfFile(row.file), row.expected) << row.file;
    EXPECT_EQ(catalogue->applicationsFolder(), "/usr/local/share/applications");
    // A system folder without entries is passed over; without any, the user's own.
    files->putFile("/empty/applications/mimeinfo.cache", "");
    EXPECT_EQ(DesktopEntryCatalogue::forEnvironment(files, std::nullopt, "/empty:/usr/share", "/home/u")->applicationsFolder(),
              "/usr/share/applications");
    EXPECT_EQ(DesktopEntryCatalogue::forEnvironment(files, std::nullopt, "/empty", "/home/u")->applicationsFolder(),
              "/home/u/.local/share/applications");

    const auto fromEnvironment =
        DesktopEntryCatalogue::forEnvironment(files, "/data", std::nullopt, "/home/u");
    EXPECT_EQ(fromEnvironment->folders(),
              (std::vector<std::filesystem::path>{"/data/applications", "/usr/local/share/applications",
                                                  "/usr/share/applications"}));
}

TEST_F(DesktopEntryCatalogueTest, AllApplicationsAddThoseMenusLeaveOutAndCarryTheirWindowClassAndExec) {
    files->putFile("/usr/share/applications/term.desktop", entry("Term", "StartupWMClass=XTerm\nExec=xterm -e %U"));
    std::vector<std::string> ids;
    for (const DesktopApplication& application : catalogue->allApplications()) ids.push_back(application.bundleID);
    std::ranges::sort(ids);
    // A window of the helper menus leave out is still named after it.
    EXPECT_EQ(ids, (std::vector<std::string>{"escaped", "gimp", "helper", "kde4-okular", "org-kde-apps-a-b",
                                             "org.mozilla.firefox", "term"}));
    const auto term = catalogue->application("term");
    ASSERT_TRUE(term);
    EXPECT_EQ(term->startupWMClass, "XTerm");
    EXPECT_EQ(term->exec, "xterm -e %U");
}

TEST(DesktopExec, AnExecValueBecomesArgumentsWithoutFieldCodesOrAShell) {
    using Arguments = std::optional<std::vector<std::string>>;
    const std::pair<std::string_view, Arguments> rows[] = {
        {"gimp-2.10 %U", Arguments({"gimp-2.10"})},
        {"  krita   --nosplash  %F ", Arguments({"krita", "--nosplash"})},
        {"app --file=%f --icon %i %c %k", Arguments({"app", "--file=", "--icon"})},
        {"app 100%% done", Arguments({"app", "100%", "done"})},
        {R"("/opt/My App/run" "say \"hi\"" "a\\b" "$HOME" `x`)",
         Arguments({"/opt/My App/run", "say \"hi\"", "a\\b", "$HOME", "`x`"})},
        {R"("" x)", Arguments({"", "x"})},
        {"env LANG=C app", Arguments({"env", "LANG=C", "app"})},
        {"", std::nullopt},
        {"%U", std::nullopt},
        {R"("unclosed)", std::nullopt},
        {"app %", std::nullopt},
    };
    for (const auto& [exec, expected] : rows) EXPECT_EQ(execArguments(exec), expected) << exec;

    EXPECT_EQ(findProgram("sh", "relative:/nonexistent:/bin:/usr/bin"), "/bin/sh");
    EXPECT_EQ(findProgram("/opt/x/run", ""), "/opt/x/run");
    EXPECT_EQ(findProgram("no-such-program-here", "/bin:/usr/bin"), std::nullopt);
}

} // namespace
} // namespace ravolet::platform
