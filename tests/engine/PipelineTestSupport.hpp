#pragma once

// Fakes shared by the pipeline tests: a poster and side effects that record
// what reaches them as text, and waits on conditions with generous limits.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "RavoletEngine/EventPath/EventPosting.hpp"
#include "Core/ScrollPhase.hpp"
#include "RavoletEngine/EventPath/MacroSideEffects.hpp"

namespace ravolet::testing {

// How long a test waits for another thread before it gives up.
inline constexpr std::chrono::seconds generousLimit{20};

// A list of texts appended from any thread, with a wait for a condition on it.
class TextLog {
public:
    void append(std::string line) {
        {
            std::lock_guard guard(lock_);
            lines_.push_back(std::move(line));
        }
        changed_.notify_all();
    }
    std::vector<std::string> lines() const {
        std::lock_guard guard(lock_);
        return lines_;
    }
    void clear() {
        std::lock_guard guard(lock_);
        lines_.clear();
    }
    // True once the predicate holds for the lines; false after the limit.
    bool waitUntil(const std::function<bool(const std::vector<std::string>&)>& predicate) const {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, generousLimit, [&] { return predicate(lines_); });
    }
    bool waitForCount(std::size_t count) const {
        return waitUntil([count](const auto& lines) { return lines.size() >= count; });
    }

private:
    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    std::vector<std::string> lines_;
};

// Records key and mouse-button posts as "key(<code> <down|up> mods=<raw>)" and
// "mouseButton(<number> <down|up>)", scroll steps as
// "scroll(<axis> <pixels>px <phase> mods=<raw>)", and each scroll step's
// remaining glide, in pixels, in `glideRemaining`.
class LoggingPoster final : public EventPosting {
public:
    void postScrollStep(ScrollAxis axis, std::int64_t pixelDelta, ScrollPhase phase, ModifierFlags modifiers,
                        std::int64_t glideRemainingPixels) override {
        log.append(fmt::format("scroll({} {}px {} mods={})", toString(axis), pixelDelta, toString(phase),
                               modifiers.rawValue));
        glideRemaining.append(std::to_string(glideRemainingPixels));
    }
    void postKey(std::uint16_t code, bool isDown, ModifierFlags modifiers) override {
        log.append(fmt::format("key({} {} mods={})", code, isDown ? "down" : "up", modifiers.rawValue));
    }
    void postMouseButton(std::int64_t number, bool isDown) override {
        log.append(fmt::format("mouseButton({} {})", number, isDown ? "down" : "up"));
    }

    TextLog log;
    TextLog glideRemaining;
};

// Records "requestDPI(<dpi>)", "launchApp(<bundleID>)" and "runShortcut(<name>)".
class RecordingSideEffects final : public MacroSideEffects {
public:
    void requestDPI(std::int64_t dpi) override { log.append(fmt::format("requestDPI({})", dpi)); }
    void launchApp(const std::string& bundleID) override { log.append(fmt::format("launchApp({})", bundleID)); }
    void runShortcut(const std::string& name) override { log.append(fmt::format("runShortcut({})", name)); }

    TextLog log;
};

} // namespace ravolet::testing
