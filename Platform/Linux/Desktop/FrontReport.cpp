#include "Platform/Linux/Desktop/FrontReport.hpp"

namespace ravolet::platform {

void FrontReport::setFront(FrontmostSource::Front front) {
    {
        std::lock_guard guard(lock_);
        if (lost_ || front == front_) return;
        front_ = std::move(front);
    }
    if (changed_) changed_();
}

void FrontReport::setWindows(std::vector<WindowClues> windows) {
    std::lock_guard guard(lock_);
    if (!lost_) windows_ = std::move(windows);
}

void FrontReport::lose() {
    {
        std::lock_guard guard(lock_);
        if (lost_) return;
        lost_ = true;
        front_ = {FrontmostTracking::State::cannotTell, std::nullopt};
        windows_.clear();
    }
    if (changed_) changed_();
}

FrontmostSource::Front FrontReport::front() const {
    std::lock_guard guard(lock_);
    return front_;
}

std::vector<WindowClues> FrontReport::windows() const {
    std::lock_guard guard(lock_);
    return windows_;
}

bool FrontReport::lost() const {
    std::lock_guard guard(lock_);
    return lost_;
}

} // namespace ravolet::platform
