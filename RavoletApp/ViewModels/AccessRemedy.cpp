#include "RavoletApp/ViewModels/AccessRemedy.hpp"

namespace ravolet::AccessRemedy {

std::string forTheMouse() {
    return "Ravolet's udev rules file, " + std::string(rulesFileName) +
           ", opens your mouse's device nodes to whoever is logged in at this computer. scripts/run.sh installs it "
           "when it is missing; after that, unplug the mouse and plug it back in once.";
}

std::string forVirtualInput() {
    return "The same udev rules file, " + std::string(rulesFileName) +
           ", opens /dev/uinput to whoever is logged in at this computer. scripts/run.sh installs it when it is "
           "missing and applies it at once; if /dev/uinput is still closed after that, log out and back in.";
}

std::optional<std::string> closedNodes(const std::vector<std::string>& nodes) {
    if (nodes.empty()) return std::nullopt;
    std::string text = "Still closed to Ravolet: ";
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        if (i > 0) text += i + 1 == nodes.size() ? " and " : ", ";
        text += nodes[i];
    }
    return text + ".";
}

} // namespace ravolet::AccessRemedy
