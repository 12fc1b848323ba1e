#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "DeviceTestSupport.hpp"
#include "RavoletApp/Model/GatedHIDPPControl.hpp"

namespace ravolet {
namespace {

using testing::MouseRig;
using Mouse = platform::SimulatedMouse;

// The control over a connected mouse that reports every interval from 1 to 8 ms.
struct ControlRig : MouseRig {
    explicit ControlRig(bool enabled) : control(std::make_shared<GatedHIDPPControl>(device, enabled)) {
        mouse->setReportRateBitmap(0xFF);
        device->connect(nullptr, [](HIDPPResult<void>) {});
        settle();
        EXPECT_TRUE(device->isConnected());
        mouse->clearReceivedRequests();
    }

    template <class T, class Start>
    HIDPPResult<T> run(Start start) {
        std::optional<HIDPPResult<T>> result;
        start([&](HIDPPResult<T> r) { result = std::move(r); });
        settle();
        return result.value_or(std::unexpected(HIDPPError::malformedResponse("no answer")));
    }

    std::shared_ptr<GatedHIDPPControl> control;
};

TEST(GatedHIDPPControl, AnOpenGateWritesRatesThatDivideOneThousandHertz) {
    struct Case {
        std::int64_t hertz;
        std::optional<std::uint8_t> interval; // what the mouse runs at afterwards; none: refused
        std::optional<std::string> error;     // refused before any traffic, with this text
    };
    const std::vector<Case> cases = {
        {1000, 1, std::nullopt}, {500, 2, std::nullopt}, {250, 4, std::nullopt}, {125, 8, std::nullopt},
        {200, 5, std::nullopt},
        {1, std::nullopt, std::nullopt}, // 1000 ms: refused by the device itself
        {300, std::nullopt, "invalid argument: unsupported report rate 300 Hz"},
        {0, std::nullopt, "invalid argument: unsupported report rate 0 Hz"},
        {-5, std::nullopt, "invalid argument: unsupported report rate -5 Hz"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hertz);
        ControlRig rig(true);
        const auto result = rig.run<void>([&](auto done) { rig.control->setReportRate(c.hertz, rig.ui, std::move(done)); });
        EXPECT_EQ(result.has_value(), c.interval.has_value());
        if (c.interval) {
            EXPECT_EQ(rig.mouse->reportIntervalMilliseconds(), *c.interval);
        } else {
            EXPECT_EQ(rig.writes(), std::vector<std::string>{}) << "nothing written";
            EXPECT_EQ(result.error().kind(), HIDPPError::Kind::invalidArgument) << result.error().description();
        }
        if (c.error) {
            EXPECT_EQ(result.error().description(), *c.error);
            EXPECT_EQ(rig.mouse->receivedRequests().size(), 0u) << "no traffic at all";
        }
    }
}

TEST(GatedHIDPPControl, AClosedGateAnswersWithoutTrafficAndStillReads) {
    ControlRig rig(false);
    rig.mouse->setCurrentDPI(1200);
    EXPECT_TRUE(rig.run<void>([&](auto done) { rig.control->setReportRate(300, rig.ui, std::move(done)); }).has_value());
    EXPECT_EQ(rig.run<std::int64_t>([&](auto done) { rig.control->setDPI(1600, rig.ui, std::move(done)); }), 1600);
    EXPECT_EQ(rig.run<bool>([&](auto done) { rig.control->setWheelHighResolution(true, rig.ui, std::move(done)); }), true);
    EXPECT_EQ(rig.mouse->receivedRequests().size(), 0u);
    EXPECT_EQ(rig.run<std::int64_t>([&](auto done) { rig.control->readDPI(rig.ui, std::move(done)); }), 1200);

    rig.control->setEnabled(true);
    EXPECT_EQ(rig.run<std::int64_t>([&](auto done) { rig.control->setDPI(800, rig.ui, std::move(done)); }), 800);
    EXPECT_EQ(rig.mouse->currentDPI(), 800);
    EXPECT_EQ(rig.run<bool>([&](auto done) { rig.control->setWheelHighResolution(true, rig.ui, std::move(done)); }), true);
    EXPECT_EQ(rig.writes(), std::vector<std::string>{"wheel"});
}

} // namespace
} // namespace ravolet
