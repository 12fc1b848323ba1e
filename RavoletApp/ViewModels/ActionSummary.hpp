#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "Core/Action.hpp"
#include "Core/MacroStep.hpp"

namespace ravolet {

// The display name of the application with a bundle identifier, or nothing
// when the system does not know the identifier. The application passes its
// workspace's lookup; it is asked afresh on every call, so a summary follows
// the application's current name.
using ApplicationNameLookup = std::function<std::optional<std::string>(const std::string& bundleID)>;

// One line that says what the action does ("Sends ⌘C", "Opens Firefox"); it
// depends on the action alone and is never empty. An application the lookup
// does not know is named by its identifier. A command that would not start
// says so and why, in the words of the editor's check under its field
// (ActionEditing::commandCheck), its program looked for in the folders of
// `commandSearchPath` (a PATH value) as that check does.
std::string actionSummary(const Action& action, const ApplicationNameLookup& applicationName,
                          std::string_view commandSearchPath);

// A lower-case phrase for one step ("press ⇧A", "wait 120 ms"), as it reads
// after "Repeats ".
std::string macroStepSummary(const MacroStep& step);

} // namespace ravolet
