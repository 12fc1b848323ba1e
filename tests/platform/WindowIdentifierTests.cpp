#include <gtest/gtest.h>

#include "Platform/Linux/Desktop/SessionFrontmostSource.hpp"
#include "Platform/Linux/Desktop/WindowIdentifier.hpp"
#include "Platform/Simulated/InMemoryFileSystem.hpp"

namespace ravolet::platform {
namespace {

TEST(WindowIdentifier, EverySourcesCluesMapToTheSameInstalledEntry) {
    auto files = std::make_shared<InMemoryFileSystem>();
    const auto entry = [](std::string_view name, std::string_view extra) {
        return "[Desktop Entry]\nType=Application\nName=" + std::string(name) + "\n" + std::string(extra) + "\n";
    };
    files->putFile("/home/u/.local/share/applications/org.gnome.TextEditor.desktop", entry("Text Editor", "Exec=gnome-text-editor %U"));
    files->putFile("/usr/share/applications/org.gnome.TextEditor.desktop", entry("System Copy", ""));
    files->putFile("/usr/share/applications/gimp.desktop", entry("GIMP", "StartupWMClass=gimp-2.10\nExec=env LANG=C gimp-2.10 %U"));
    files->putFile("/usr/share/applications/org.kde.krita.desktop", entry("Krita", "Exec=/usr/bin/krita %F"));
    files->putFile("/usr/share/applications/kde4/okular.desktop", entry("Okular", ""));
    const WindowIdentifier identifier(
        DesktopEntryCatalogue::forEnvironment(files, std::nullopt, "/usr/share", "/home/u"));

    struct Row {
        const char* what;
        WindowClues clues;
        WindowApplication expected;
    };
    const Row rows[] = {
        {"GNOME Shell's id, with .desktop", {{"org.gnome.TextEditor.desktop"}, {}, {}}, {"org.gnome.TextEditor", "Text Editor"}},
        {"KWin's desktop file as a path", {{"/usr/share/applications/gimp.desktop"}, {}, {}}, {"gimp", "GIMP"}},
        {"a declared id in another case", {{"ORG.KDE.KRITA"}, {}, {}}, {"org.kde.krita", "Krita"}},
        {"GNOME Shell's window:N names nothing; the class still may",
         {{"window:7"}, {"Gimp-2.10"}, {}}, {"gimp", "GIMP"}},
        {"KWin's lower-cased X11 class against StartupWMClass", {{}, {"gimp-2.10"}, {}}, {"gimp", "GIMP"}},
        {"a Wayland app_id that is the identifier", {{}, {"org.gnome.texteditor"}, {}}, {"org.gnome.TextEditor", "Text Editor"}},
        {"an entry in a sub-folder", {{}, {"kde4-okular"}, {}}, {"kde4-okular", "Okular"}},
        {"a declared id with no entry falls through to the class", {{"org.example.Gone"}, {"krita"}, {}}, {std::nullopt, "krita"}},
        {"the executable against Exec's program, past env", {{}, {}, "/usr/bin/gimp-2.10"}, {"gimp", "GIMP"}},
        {"the executable by its full path", {{}, {}, "/usr/bin/krita"}, {"org.kde.krita", "Krita"}},
        {"nothing matches: the class is shown", {{"window:3"}, {"XTermTest", "xterm"}, "/usr/bin/xterm"}, {std::nullopt, "XTermTest"}},
        {"no clue at all", {}, {std::nullopt, ""}},
    };
    for (const Row& row : rows) EXPECT_EQ(identifier.identify(row.clues), row.expected) << row.what;

    // A new entry is seen at the next question.
    files->putFile("/usr/share/applications/xterm.desktop", entry("XTerm", "StartupWMClass=XTermTest"));
    EXPECT_EQ(identifier.identify(WindowClues{{}, {"xtermtest"}, {}}), (WindowApplication{"xterm", "XTerm"}));
}

TEST(SessionFrontmostSource, TheSessionsDesktopIsTriedFirstAndTheXServerLastUnderWayland) {
    using Source = FrontmostTracking::Source;
    using Session = SessionFrontmostSource::Session;
    const std::pair<Session, std::vector<Source>> rows[] = {
        {{"x11", "GNOME", false}, {Source::x11}},
        {{"", "", false}, {Source::x11}},
        {{"wayland", "ubuntu:GNOME", true}, {Source::gnomeShell, Source::wlroots, Source::kwin, Source::x11}},
        {{"wayland", "KDE", true}, {Source::kwin, Source::wlroots, Source::gnomeShell, Source::x11}},
        {{"wayland", "sway", true}, {Source::wlroots, Source::kwin, Source::gnomeShell, Source::x11}},
        {{"", "Hyprland", true}, {Source::wlroots, Source::kwin, Source::gnomeShell, Source::x11}},
    };
    for (const auto& [session, expected] : rows)
        EXPECT_EQ(SessionFrontmostSource::order(session), expected) << session.type << " " << session.desktop;
}

} // namespace
} // namespace ravolet::platform
