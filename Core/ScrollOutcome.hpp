#pragma once

#include <functional>
#include <iosfwd>
#include <utility>
#include <variant>

#include "Core/ScrollInput.hpp"
#include "Core/ScrollPlan.hpp"

namespace ravolet {

// What becomes of one wheel event: it passes untouched, it is swallowed and
// replaced by a glide, or it is swallowed with nothing posted.
struct ScrollOutcome {
    struct PassThrough {
        ScrollInput input;
        friend bool operator==(const PassThrough&, const PassThrough&) = default;
    };
    struct Animate {
        ScrollPlan plan;
        friend bool operator==(const Animate&, const Animate&) = default;
    };
    struct Ignore {
        friend bool operator==(const Ignore&, const Ignore&) = default;
    };

    std::variant<PassThrough, Animate, Ignore> value;

    static ScrollOutcome passThrough(const ScrollInput& input) { return {PassThrough{input}}; }
    static ScrollOutcome animate(ScrollPlan plan) { return {Animate{std::move(plan)}}; }
    static ScrollOutcome ignore() { return {Ignore{}}; }

    bool isPassThrough() const { return std::holds_alternative<PassThrough>(value); }
    bool isIgnore() const { return std::holds_alternative<Ignore>(value); }
    // The plan of an `animate` outcome, else null.
    const ScrollPlan* plan() const {
        const auto* a = std::get_if<Animate>(&value);
        return a ? &a->plan : nullptr;
    }
    // The input of a `passThrough` outcome, else null.
    const ScrollInput* passedInput() const {
        const auto* p = std::get_if<PassThrough>(&value);
        return p ? &p->input : nullptr;
    }

    friend bool operator==(const ScrollOutcome&, const ScrollOutcome&) = default;
};

std::ostream& operator<<(std::ostream& os, const ScrollOutcome& outcome);

} // namespace ravolet

template <>
struct std::hash<ravolet::ScrollOutcome> {
    std::size_t operator()(const ravolet::ScrollOutcome& o) const noexcept;
};
