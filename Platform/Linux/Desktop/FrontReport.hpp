#pragma once

#include <functional>
#include <mutex>
#include <vector>

#include "Platform/Linux/Desktop/FrontmostSource.hpp"

namespace ravolet::platform {

// What a source has seen of the desktop, written on the source's own thread
// and read by the workspace on any: the window in front, the windows there
// are, and whether the desktop has gone. Each change is told once, outside
// the lock; once the desktop has gone nothing changes any more.
class FrontReport {
public:
    // Told after every change; set before the source's thread runs.
    void onChange(std::function<void()> changed) { changed_ = std::move(changed); }

    // Takes a new front; nothing is told when it is the one there was.
    void setFront(FrontmostSource::Front front);
    void setWindows(std::vector<WindowClues> windows);
    // The desktop went away: the source cannot tell from now on.
    void lose();

    FrontmostSource::Front front() const;
    std::vector<WindowClues> windows() const;
    bool lost() const;

private:
    std::function<void()> changed_;
    mutable std::mutex lock_;
    FrontmostSource::Front front_;
    std::vector<WindowClues> windows_;
    bool lost_ = false;
};

} // namespace ravolet::platform
