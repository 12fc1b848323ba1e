// The scroll transformer against its rules written out plainly (the
// reference): every frame of a glide computed and every step of it listed at
// once, where the transformer describes the glide, makes its steps as they
// are walked and finds where a glide has gone out to by halving. Plans, their
// steps, outcomes and the state they leave must be exactly the same.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "Core/GlideCurve.hpp"
#include "Core/ScrollTransformer.hpp"
#include "tests/core/ScrollReference.hpp"

using namespace ravolet;
using ravolet::testing::Generator;
using ravolet::testing::detentsToCompare;
using ravolet::testing::sameOutcome;
using ravolet::testing::samePlan;

TEST(ScrollTransformer, PlansAreThoseOfItsRulesWithEveryFrameComputed) {
    Generator generate(32);
    std::int64_t detents = 0;
    std::int64_t glides = 0;
    while (detents < detentsToCompare) {
        const ScrollSettings first = generate.settings();
        ScrollTransformer transformer(first);
        reference::Transformer expected(first);
        double now = generate.uniform(0, 1e6);
        ModifierFlags modifiers;
        for (int i = 0, count = 1 + generate.below(40); i < count; ++i, ++detents) {
            if (generate.chance(5)) {
                // New settings keep every axis's state.
                transformer.settings = expected.settings = generate.settings();
            }
            if (generate.chance(2)) {
                transformer.reset();
                expected.reset();
            }
            if (generate.chance(10)) modifiers = ModifierFlags(static_cast<std::uint32_t>(generate.below(64)));
            const ScrollAxis axis = generate.chance(85) ? ScrollAxis::vertical : ScrollAxis::horizontal;
            now = generate.nextTime(now, expected.inFlightPlan(axis));
            const auto delivery = generate.delivery(expected.inFlightPlan(axis), now);
            const ScrollInput input{generate.lineDelta(), axis, modifiers, now, DeviceID(7)};

            const reference::Outcome want = expected.transform(input, delivery);
            const ScrollOutcome got = transformer.transform(input, delivery);
            ASSERT_TRUE(sameOutcome(got, want)) << "detent " << detents << ": " << input << " under " << transformer.settings;
            for (const auto a : allScrollAxes) {
                const ScrollPlan* stored = transformer.inFlightPlan(a);
                const reference::Plan* storedWant = expected.inFlightPlan(a);
                ASSERT_EQ(stored != nullptr, storedWant != nullptr) << "detent " << detents;
                if (!stored) continue;
                ASSERT_TRUE(samePlan(*stored, *storedWant)) << "detent " << detents;
                // What is due by any time of the glide, found from the
                // curve alone, is the sum of the listed steps due by then.
                const double at = stored->startTimestampMillis + generate.uniform(-1, stored->durationMillis + 1);
                ASSERT_EQ(ScrollTransformer::deliveredPixels(*stored, at), reference::Transformer::deliveredPixels(*storedWant, at))
                    << "detent " << detents << " at " << at - stored->startTimestampMillis << " ms of " << *stored;
            }
            if (want.plan) ++glides;
        }
    }
    // Most detents glide; the rest pass through or are ignored.
    EXPECT_GT(glides, detentsToCompare / 2);
}

// The plan's steps are where the glide's pixel count changes; the search for
// each finds the same frame wherever it starts, early, late or far off.
TEST(GlideCurve, TheNextChangeIsTheSameFromAnyStartingFrame) {
    Generator generate(502);
    for (int curveIndex = 0; curveIndex < 300; ++curveIndex) {
        const std::size_t frames = 1 + static_cast<std::size_t>(generate.below(120));
        const double frame = generate.roundedNow(generate.logUniform(1, 50));
        const double firstOffset = generate.chance(20) ? 0 : generate.roundedNow(generate.uniform(0, frame));
        const double duration = firstOffset + frame * static_cast<double>(frames - 1) - generate.uniform(0, frame * 0.99);
        const std::int64_t total = (generate.chance(50) ? 1 : -1) * (1 + generate.below(generate.chance(50) ? 40 : 3000));
        const GlideCurve curve(allEasings[static_cast<std::size_t>(generate.below(3))], firstOffset, frame,
                               std::max(duration, 1.0), frames, generate.chance(50) ? 0 : generate.uniform(0, 0.999), total);
        std::size_t from = 0;
        std::int64_t count = 0;
        std::vector<GlideCurve::Change> everyChange;
        for (;;) {
            // Frame by frame, as the plans were once made.
            std::optional<GlideCurve::Change> expected;
            for (std::size_t k = from + 1; k <= curve.frames() && !expected; ++k)
                if (curve.cumulativeAt(k) != count) expected = GlideCurve::Change{k, curve.cumulativeAt(k)};
            for (std::size_t start = from + 1; start <= curve.frames(); ++start) {
                const auto found = curve.nextChange(from, count, start);
                ASSERT_EQ(found.has_value(), expected.has_value()) << "curve " << curveIndex << " from " << from << " start " << start;
                if (found) {
                    ASSERT_EQ(found->frame, expected->frame) << "curve " << curveIndex << " from " << from << " start " << start;
                    ASSERT_EQ(found->cumulative, expected->cumulative);
                }
            }
            if (!expected) break;
            everyChange.push_back(*expected);
            from = expected->frame;
            count = expected->cumulative;
        }
        std::vector<GlideCurve::Change> walked;
        GlideCurve::Walk walk;
        while (const auto change = curve.next(walk)) walked.push_back(*change);
        ASSERT_EQ(walked.size(), everyChange.size()) << "curve " << curveIndex;
        for (std::size_t i = 0; i < walked.size(); ++i) {
            ASSERT_EQ(walked[i].frame, everyChange[i].frame) << "curve " << curveIndex;
            ASSERT_EQ(walked[i].cumulative, everyChange[i].cumulative);
        }
    }
}
