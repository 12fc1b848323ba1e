#pragma once

#include <string>
#include <vector>

#include "Core/Config.hpp"

namespace ravolet {

// The settings document when its file was changed outside Ravolet while a
// change made in the window was not saved yet: the file's new content with
// the window's changes on top, wherever the two touched different settings.
// Where both changed the same setting differently, the file's is kept and the
// setting is named, so that the user hears of what was not kept.
//
// A setting is a value of the document's JSON form; profiles and rules are
// matched by their identifiers, not their places, so a profile added or
// moved in one does not shift the changes of the other; their order is kept
// from whichever side changed it.
struct ConfigMerge {
    Config merged;
    // What the window changed that the file changed too and that was not
    // kept, in document order, as the pages name it: "DPI in the profile
    // “Default”".
    std::vector<std::string> notKept;

    // `base`: the document the file held when the window's changes began;
    // `window`: with the window's changes; `file`: the file's new content.
    static ConfigMerge of(const Config& base, const Config& window, const Config& file);
};

} // namespace ravolet
