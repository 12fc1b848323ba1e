#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <vector>

#include "Core/GlideCurve.hpp"
#include "Core/ModifierFlags.hpp"
#include "Core/ScrollStep.hpp"

namespace ravolet {

// The steps of a glide, made as they are asked for rather than all at once:
// first, when the glide breaks off the gesture before it, the step that ends
// that gesture (at once, 0 pixels, with its modifiers); then a step at every
// frame of the curve where the pixel count changes, the first of them
// beginning a gesture unless the glide continues one; last, the closing step
// at the glide's end. Making a glide costs the same however long it lasts;
// each step costs about as much as the next change of the curve takes to find.
//
// A small value without allocations: copied with its plan, compared by what
// it is made of. A default one has no steps.
class GlideSteps {
public:
    GlideSteps() = default;
    GlideSteps(const GlideCurve& curve, bool continuesGesture, std::optional<ModifierFlags> endsPreviousGesture);

    // Where a walk through the steps stands; starts before the first.
    struct Position {
        enum class Stage : std::uint8_t { ending, timed, closing, done };
        Stage stage = Stage::ending;
        bool madeTimedStep = false;
        GlideCurve::Walk walk;
    };

    // The step at `at`, moving `at` past it; nothing after the last.
    std::optional<ScrollStep> next(Position& at) const;
    // How many steps are left from `at`, counting at most `limit` of them;
    // `at` moves past those counted.
    std::int64_t count(Position& at, std::int64_t limit) const;

    // The pixels of the timed steps due by `offsetMillis`.
    std::int64_t pixelsBy(double offsetMillis) const { return curve_ ? curve_->cumulativeBy(offsetMillis) : 0; }
    // The offset of the last frame due by `offsetMillis` whose pixels are all
    // in `deliveredPixels` (0, its start, when not even its first frame's
    // are), but no earlier than the frame before the last one due: how far
    // the glide has gone out, a frame owed at most.
    double lastFrameOut(double offsetMillis, std::int64_t deliveredPixels) const;

    bool empty() const { return !curve_; }
    // Every step in turn: as costly as making them all.
    std::size_t size() const;
    std::vector<ScrollStep> all() const;

    class Iterator {
    public:
        using value_type = ScrollStep;
        using difference_type = std::ptrdiff_t;
        Iterator() = default;
        explicit Iterator(const GlideSteps* steps) : steps_(steps) { ++*this; }
        const ScrollStep& operator*() const { return *current_; }
        const ScrollStep* operator->() const { return &*current_; }
        Iterator& operator++() {
            current_ = steps_->next(at_);
            return *this;
        }
        void operator++(int) { ++*this; }
        friend bool operator==(const Iterator& it, std::default_sentinel_t) { return !it.current_; }

    private:
        const GlideSteps* steps_ = nullptr;
        Position at_;
        std::optional<ScrollStep> current_;
    };
    Iterator begin() const { return Iterator(this); }
    std::default_sentinel_t end() const { return {}; }

    friend bool operator==(const GlideSteps&, const GlideSteps&) = default;
    std::size_t hash() const;

private:
    std::optional<GlideCurve> curve_;
    bool continuesGesture_ = false;
    std::optional<ModifierFlags> endsPreviousGesture_;
};

} // namespace ravolet
