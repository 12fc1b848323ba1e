#include "RavoletApp/ViewModels/AccessRemedy.hpp"

#include <algorithm>
#include <array>

namespace ravolet::AccessRemedy {

namespace fs = std::filesystem;

namespace {

// The folders udev reads rules files from.
constexpr std::array<std::string_view, 5> udevRulesFolders{"/etc/udev/rules.d", "/run/udev/rules.d",
                                                           "/usr/local/lib/udev/rules.d", "/usr/lib/udev/rules.d",
                                                           "/lib/udev/rules.d"};

bool isWithin(const fs::path& path, const fs::path& folder) {
    const auto [end, rest] = std::ranges::mismatch(folder, path);
    return end == folder.end() && !folder.empty();
}

// "a", "a and b", "a, b and c".
std::string listed(const std::vector<std::string>& items) {
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) text += i + 1 == items.size() ? " and " : ", ";
        text += items[i];
    }
    return text;
}

std::string whereItIs(const RulesFile& rules) {
    const std::string path = rules.path.string();
    if (rules.fromCheckout) {
        return "This copy runs from its checkout, whose rules file is " + path +
               "; scripts/run.sh installs it in /etc/udev/rules.d when it is missing there.";
    }
    if (!rules.readByUdev) {
        return "This copy installed it as " + path + ", a folder udev does not read rules from: copy it into "
               "/etc/udev/rules.d first.";
    }
    return "This copy installed it as " + path + ".";
}

std::string triggerCommand(const std::vector<std::string>& nodes) {
    std::string command = "sudo udevadm trigger --action=change";
    for (const std::string& node : nodes) command += " " + node;
    return command;
}

} // namespace

RulesFile RulesFile::of(const fs::path& executable, const fs::path& sourceDir, const fs::path& binaryDir,
                        const fs::path& bindir, const fs::path& rulesDir) {
    if (isWithin(executable, binaryDir)) return RulesFile{sourceDir / "data" / rulesFileName, true, true};
    fs::path prefix = executable.parent_path();
    for (auto part = bindir.begin(); part != bindir.end() && prefix.has_relative_path(); ++part) prefix = prefix.parent_path();
    fs::path folder = (rulesDir.is_absolute() ? rulesDir : prefix / rulesDir).lexically_normal();
    if (!folder.has_filename()) folder = folder.parent_path(); // written with a final slash
    const bool read = std::ranges::any_of(udevRulesFolders, [&](std::string_view known) { return folder == known; });
    return RulesFile{folder / rulesFileName, false, read};
}

RulesFile RulesFile::thisCopy() {
    std::error_code error;
    const fs::path executable = fs::read_symlink("/proc/self/exe", error);
    const fs::path binaryDir = fs::weakly_canonical(RAVOLET_BINARY_DIR, error);
    return of(executable, RAVOLET_SOURCE_DIR, binaryDir, RAVOLET_INSTALL_BINDIR, RAVOLET_UDEV_RULES_DIR);
}

Remedy forTheMouse(const PermissionState& permissions, const RulesFile& rules) {
    std::string text = "Ravolet's udev rules file, " + std::string(rulesFileName) +
                       ", opens your mouse's device nodes to whoever is logged in at this computer. " + whereItIs(rules);
    if (permissions.closedListeningNodes.empty())
        return {text + " udev applies it to the mouse each time it is plugged in.", {}};
    return {text + " To apply it to the mouse plugged in now, run the command below \u2014 unplugging the mouse and "
                   "plugging it back in does the same.",
            {triggerCommand(permissions.closedListeningNodes)}};
}

Remedy forVirtualInput(const PermissionState& permissions, const RulesFile& rules) {
    if (permissions.postingDeviceMissing) {
        return {"The uinput module is not loaded, so there is no /dev/uinput to open. The first command below loads it "
                "now, the second has it loaded at every start. Ravolet's udev rules file then opens it to whoever is "
                "logged in at this computer.",
                {"sudo modprobe uinput", "echo uinput | sudo tee /etc/modules-load.d/uinput.conf"}};
    }
    return {"The same udev rules file, " + std::string(rulesFileName) +
                ", opens /dev/uinput to whoever is logged in at this computer. " + whereItIs(rules) +
                " To apply it now, run the command below; if /dev/uinput is still closed after that, log out and back "
                "in.",
            {triggerCommand({"/dev/uinput"})}};
}

std::string missingGrants(const PermissionState& permissions) {
    std::vector<std::string> missing;
    if (!permissions.inputMonitoring) missing.emplace_back(listeningGrant);
    if (!permissions.accessibility) missing.emplace_back(postingGrant);
    return listed(missing);
}

std::optional<std::string> closedNodes(const std::vector<std::string>& nodes) {
    if (nodes.empty()) return std::nullopt;
    return "Still closed to Ravolet: " + listed(nodes) + ".";
}

std::vector<std::string> commandLines(std::string_view command, std::size_t columns) {
    constexpr std::string_view continuation = " \\";
    constexpr std::string_view indent = "  ";
    std::vector<std::string> lines;
    std::string line;
    bool lineHasWord = false;
    for (std::size_t start = 0; start < command.size();) {
        std::size_t end = command.find(' ', start);
        if (end == std::string_view::npos) end = command.size();
        const std::string_view word = command.substr(start, end - start);
        start = end + 1;
        if (word.empty()) continue;
        // Room is kept on every line for the continuation mark it may need.
        if (lineHasWord && line.size() + 1 + word.size() + continuation.size() > columns) {
            lines.push_back(line + std::string(continuation));
            line = indent;
            lineHasWord = false;
        }
        if (lineHasWord) line += ' ';
        line += word;
        lineHasWord = true;
    }
    if (lineHasWord) lines.push_back(line);
    return lines;
}

} // namespace ravolet::AccessRemedy
