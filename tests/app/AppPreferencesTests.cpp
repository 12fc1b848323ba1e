#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "Platform/Simulated/InMemoryKeyValueStore.hpp"
#include "RavoletApp/Model/AppPreferences.hpp"

namespace ravolet {
namespace {

using platform::InMemoryKeyValueStore;
using Values = std::map<std::string, platform::KeyValue, std::less<>>;
using Keys = AppPreferences::Keys;
// Onboarding, paused, manages, rate, wheel, automatic checks.
using Readings = std::tuple<bool, bool, bool, std::optional<std::int64_t>, std::optional<bool>, bool>;

Readings read(const AppPreferences& p) {
    return {p.hasCompletedOnboarding.value(), p.isPausedByUser.value(), p.managesDeviceSettings.value(),
            p.reportRateHertz.value(), p.highResolutionWheel.value(), p.automaticUpdateChecks.value()};
}

std::string key(std::string_view k) { return std::string(k); }

TEST(AppPreferences, EachPreferenceReadsByItsOwnRule) {
    const std::string text = "holds a string";
    const Readings defaults{false, false, true, std::nullopt, false, true};
    const std::vector<std::pair<Values, Readings>> cases = {
        {{}, defaults},
        // The two flags take the store's own Boolean reading.
        {{{key(Keys::onboardingCompleted), std::string("YES")}, {key(Keys::pausedByUser), std::int64_t{2}}},
         {true, true, true, std::nullopt, false, true}},
        // The other Booleans read their default unless a Boolean is stored.
        {{{key(Keys::manageSettings), text}, {key(Keys::automaticChecks), std::int64_t{0}}}, defaults},
        {{{key(Keys::reportRateHertz), std::int64_t{500}}}, {false, false, true, 500, false, true}},
        {{{key(Keys::reportRateHertz), std::string("500")}}, defaults},
        // The wheel's mode key wins over its companion; without a Boolean
        // mode, the companion decides between none and false.
        {{{key(Keys::highResolutionWheel), false}, {key(Keys::leavesWheelUnchanged), true}}, defaults},
        {{{key(Keys::highResolutionWheel), text}, {key(Keys::leavesWheelUnchanged), std::string("true")}},
         {false, false, true, std::nullopt, std::nullopt, true}},
    };
    for (const auto& [stored, expected] : cases) {
        SCOPED_TRACE(::testing::PrintToString(stored.size()));
        auto store = std::make_shared<InMemoryKeyValueStore>(stored);
        EXPECT_EQ(read(AppPreferences(store)), expected);
        EXPECT_EQ(store->writeCount(), 0u) << "reading writes nothing";
    }
}

TEST(AppPreferences, AssignmentsWriteThroughAndOnlyChangesNotify) {
    auto store = std::make_shared<InMemoryKeyValueStore>();
    AppPreferences p(store);
    int notified = 0;
    const auto count = [&](const auto&) { ++notified; };
    const ObserverConnection connections[] = {
        p.hasCompletedOnboarding.observe(count), p.isPausedByUser.observe(count), p.managesDeviceSettings.observe(count),
        p.automaticUpdateChecks.observe(count),  p.reportRateHertz.observe(count), p.highResolutionWheel.observe(count)};
    const auto twice = [](auto& preference, auto value) {
        preference.set(value);
        preference.set(value);
    };
    twice(p.hasCompletedOnboarding, true);
    twice(p.isPausedByUser, true);
    twice(p.managesDeviceSettings, false);
    twice(p.automaticUpdateChecks, false);
    twice(p.reportRateHertz, std::optional<std::int64_t>(1000));
    EXPECT_EQ(store->values().at(key(Keys::reportRateHertz)), platform::KeyValue(std::int64_t{1000}));
    twice(p.reportRateHertz, std::optional<std::int64_t>());
    twice(p.highResolutionWheel, std::optional<bool>());
    EXPECT_EQ(store->values().at(key(Keys::leavesWheelUnchanged)), platform::KeyValue(true));
    EXPECT_EQ(AppPreferences(store).highResolutionWheel.value(), std::nullopt);
    twice(p.highResolutionWheel, std::optional<bool>(true));

    EXPECT_EQ(notified, 8) << "one notification per change";
    EXPECT_EQ(store->writeCount(), 4u * 2 + 2 * 2 + 2 * 2 * 2) << "every assignment is written, unchanged or not";
    EXPECT_EQ(store->values(), (Values{{key(Keys::onboardingCompleted), true},
                                       {key(Keys::pausedByUser), true},
                                       {key(Keys::manageSettings), false},
                                       {key(Keys::automaticChecks), false},
                                       {key(Keys::leavesWheelUnchanged), false},
                                       {key(Keys::highResolutionWheel), true}}));
    EXPECT_EQ(read(AppPreferences(store)), read(p)) << "a new instance reads back what was written";
}

} // namespace
} // namespace ravolet
