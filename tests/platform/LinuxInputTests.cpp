#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <string>
#include <vector>

#include "FolderTree.hpp"
#include "Platform/Linux/Input/EvdevPrivateHIDEventSystem.hpp"
#include "Platform/Linux/Input/GlideWheelEncoder.hpp"
#include "Platform/Linux/Input/WheelTickDecoder.hpp"

namespace ravolet::platform {
namespace {

using Frame = GlideWheelEncoder::Frame;
constexpr std::uint64_t ms = 1'000'000;

TEST(WheelTickDecoder, CountsTicksToWholeDetentsAndDropsAPartTurnedBack) {
    struct Case {
        int ticksPerDetent;
        std::vector<std::int32_t> hiRes; // one frame each
        std::vector<std::int32_t> detents;
    };
    const std::vector<Case> cases = {
        {1, {120, 120, -120, 240}, {1, 1, -1, 2}},
        // High resolution, 8 ticks a detent: the eighth tick completes it.
        {8, {120, 120, 120, 120, 120, 120, 120, 120, 120}, {0, 0, 0, 0, 0, 0, 0, 1, 0}},
        {8, {600, 600, -120, -840}, {0, 1, 0, -1}},
        // Three ticks up, then down: the part-detent up is dropped.
        {4, {120, 120, 120, -120, -120, -120, -120}, {0, 0, 0, 0, 0, 0, -1}},
        {0, {120}, {1}}, // below 1 counts as 1
    };
    for (const Case& c : cases) {
        WheelTickDecoder decoder;
        decoder.setTicksPerDetent(c.ticksPerDetent);
        std::vector<std::int32_t> detents;
        for (const auto hiRes : c.hiRes) detents.push_back(decoder.add(hiRes));
        EXPECT_EQ(detents, c.detents) << "ticks per detent " << c.ticksPerDetent;
    }
    // A new resolution starts counting afresh.
    WheelTickDecoder decoder;
    decoder.setTicksPerDetent(8);
    for (int i = 0; i < 7; ++i) decoder.add(120);
    decoder.setTicksPerDetent(1);
    EXPECT_EQ(decoder.add(120), 1);
}

// The steps of one detent's ease-out glide at the default 50 pixels.
const std::vector<std::int64_t> detentGlide{5, 4, 4, 4, 3, 3, 3, 3, 2, 2, 2, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1};

// Encodes a glide's steps 8 ms apart from `start`, each with what its glide still holds.
std::vector<Frame> glide(GlideWheelEncoder& encoder, const std::vector<std::int64_t>& steps, std::uint64_t start,
                         bool knowsRemaining = true) {
    std::int64_t remaining = std::accumulate(steps.begin(), steps.end(), std::int64_t{0});
    std::vector<Frame> frames;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        frames.push_back(encoder.encode(steps[i], knowsRemaining ? remaining : 0, start + i * 8 * ms));
        remaining -= steps[i];
    }
    return frames;
}

std::int64_t sumOf(const std::vector<Frame>& frames, std::int32_t Frame::*field) {
    std::int64_t sum = 0;
    for (const Frame& f : frames) sum += f.*field;
    return sum;
}

// Frames as "units/lines", the lines left out where there are none.
std::string framesText(const std::vector<Frame>& frames) {
    std::string text;
    for (const Frame& f : frames) {
        if (!text.empty()) text += ' ';
        text += std::to_string(f.hiRes);
        if (f.lines != 0) text += '/' + std::to_string(f.lines);
    }
    return text;
}

std::vector<std::int64_t> negated(std::vector<std::int64_t> steps) {
    for (auto& step : steps) step = -step;
    return steps;
}

TEST(GlideWheelEncoder, EachNotchsLineGoesOutWithTheFirstFrameOfItsGlide) {
    // A glide of two detents in one (100 pixels), and one of half a detent (25).
    const std::vector<std::int64_t> twoDetents{10, 9, 8, 7, 6, 5, 5, 4, 4, 3, 3, 3, 3, 2,
                                               2,  2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2};
    const std::vector<std::int64_t> halfDetent{3, 3, 2, 2, 2, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1};
    struct Glide {
        std::vector<std::int64_t> steps;
        std::uint64_t startMillis; // its steps 8 ms apart from here
        std::size_t cut = SIZE_MAX; // posted up to here: a glide turned or cut short
        bool knowsRemaining = true;
        const char* frames; // what the wheel gets
    };
    struct Case {
        const char* name;
        std::vector<Glide> glides;
    };
    const std::vector<Case> cases = {
        // From rest: half a detent at once for libinput, with the notch's
        // line; the frames after it pay the head start back, lines done.
        {"a notch from rest, and another 100 ms after its glide",
         {{detentGlide, 1000, SIZE_MAX, true, "60/1 5 5 5 4 3 4 4 2 3 3 2 3 3 1 1 1 2 1 1 2 2 3"},
          // A streak: libinput is scrolling, so no head start, and the line
          // still comes with the first frame.
          {detentGlide, 1284, SIZE_MAX, true, "12/1 9 10 9 8 7 7 7 5 5 5 4 5 5 2 3 2 3 2 2 3 2 3"},
          // 400 ms after its last frame it is a rest again.
          {detentGlide, 1900, SIZE_MAX, true, "60/1 5 5 5 4 3 4 4 2 3 3 2 3 3 1 1 1 2 1 1 2 2 3"}}},
        // Turned after two frames: the turned glide's own line at once, in
        // its own direction, and its own detent.
        {"a notch turned back",
         {{detentGlide, 1000, 2, true, "60/1 5"},
          {negated(detentGlide), 1016, SIZE_MAX, true,
           "-60/-1 -5 -5 -5 -4 -3 -4 -4 -2 -3 -3 -2 -3 -3 -1 -1 -1 -2 -1 -1 -2 -2 -3"}}},
        // The second line when the wheel moves into the second detent.
        {"two detents in one glide",
         {{twoDetents, 1000, SIZE_MAX, true, "60/1 17 15 14 12 10/1 10 7 8 6 6 6 6 3 4 4 4 4 3 4 4 4 5 4 5 5 5 5"}}},
        // A part notch: half a detent from rest is a line; in a streak, two
        // halves make one.
        {"half a detent",
         {{halfDetent, 1000, SIZE_MAX, true, "60/1 0 0 0 0 0 0 0 0 0 0 0 0 0 0"},
          {halfDetent, 1200, SIZE_MAX, true, "7 7 5 5 4 5 5 5 2 3 2 2 3 2 3"},
          {halfDetent, 1400, SIZE_MAX, true, "7/1 7 5 5 4 5 5 5 2 3 2 2 3 2 3"}}},
        // Without word of the rest, each frame its own units, and the line
        // once half a detent has gone out.
        {"what follows unknown",
         {{detentGlide, 1000, SIZE_MAX, false, "12 9 10 9 8 7 7/1 7 5 5 5 4 5 5 2 3 2 3 2 2 3 2 3"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GlideWheelEncoder encoder(50);
        for (const Glide& g : c.glides) {
            std::vector<std::int64_t> steps(g.steps.begin(), g.steps.begin() + std::min(g.cut, g.steps.size()));
            std::int64_t remaining = std::accumulate(g.steps.begin(), g.steps.end(), std::int64_t{0});
            std::vector<Frame> frames;
            for (std::size_t i = 0; i < steps.size(); ++i) {
                frames.push_back(encoder.encode(steps[i], g.knowsRemaining ? remaining : 0, (g.startMillis + 8 * i) * ms));
                remaining -= steps[i];
            }
            EXPECT_EQ(framesText(frames), g.frames) << "from " << g.startMillis << " ms";
        }
    }
}

// One step as the pipeline posts it: its pixels and what its glide still
// holds, this step included.
struct PostedStep {
    std::int64_t pixels;
    std::int64_t remaining;
};

// A plan's steps as posted, cut after `posted` of them (all by default).
std::vector<PostedStep> posted(const std::vector<std::int64_t>& steps, std::size_t posted = SIZE_MAX) {
    std::int64_t remaining = std::accumulate(steps.begin(), steps.end(), std::int64_t{0});
    std::vector<PostedStep> out;
    for (std::size_t i = 0; i < steps.size() && i < posted; ++i) {
        out.push_back({steps[i], remaining});
        remaining -= steps[i];
    }
    return out;
}

std::vector<PostedStep> operator+(std::vector<PostedStep> a, const std::vector<PostedStep>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(GlideWheelEncoder, TheHeadStartIsPaidBackOverTheRestOfTheGlideAndNoFrameFallsSilent) {
    // Two detents' glide in one, at 50 pixels a detent (100 pixels).
    const std::vector<std::int64_t> twoDetents{10, 9, 8, 7, 6, 5, 5, 4, 4, 3, 3, 3, 3, 2,
                                               2,  2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2};
    // A detent of 100 pixels: its later steps of 1 pixel are 1 or 2 units.
    const std::vector<std::int64_t> longDetent{9, 9, 8, 8, 7, 6, 6, 6, 5, 5, 4, 4, 3,
                                               3, 3, 2, 3, 1, 2, 1, 1, 1, 1, 1, 1};
    struct Case {
        const char* name;
        std::int64_t pixelsPerDetent;
        std::vector<PostedStep> steps;
    };
    const std::vector<Case> cases = {
        {"one detent", 50, posted(detentGlide)},
        {"two detents in one glide", 50, posted(twoDetents)},
        {"one detent of 100 pixels", 100, posted(longDetent)},
        // A second detent after two frames folds the rest of the first
        // glide into its own: the debt goes on to the glide that goes on.
        {"a glide continued by the next detent", 50, posted(detentGlide, 2) + posted(twoDetents)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GlideWheelEncoder encoder(c.pixelsPerDetent);
        std::int64_t pixels = 0, units = 0, lines = 0;
        for (std::size_t i = 0; i < c.steps.size(); ++i) {
            const auto [step, remaining] = c.steps[i];
            // The step's own units: the whole units its pixels complete.
            const std::int64_t own = (pixels + step) * 120 / c.pixelsPerDetent - pixels * 120 / c.pixelsPerDetent;
            pixels += step;
            const Frame frame = encoder.encode(step, remaining, (1000 + 8 * i) * ms);
            if (i == 0) {
                EXPECT_EQ(frame.hiRes, 60) << "half a detent at once";
            } else {
                EXPECT_GE(frame.hiRes, 1) << "frame " << i << " of " << own << " units";
                EXPECT_LE(frame.hiRes, own) << "frame " << i << ": never more than its own";
            }
            units += frame.hiRes;
            lines += frame.lines;
        }
        EXPECT_EQ(units, pixels * 120 / c.pixelsPerDetent) << "paid back in full by the last step";
        EXPECT_EQ(lines, units / 120);
    }
}

TEST(GlideWheelEncoder, AGlideTurnedPartWayLeavesItsHeadStartBehindAndTheNewOneMovesItsOwnSteps) {
    // The head start went out with the first frame; the glide is turned
    // after one frame (a second notch 15 ms on), two (leaving a part unit
    // unsent) or five (40 ms on), before its later steps have paid the head
    // start back.
    std::vector<std::int64_t> back;
    for (const auto step : detentGlide) back.push_back(-step);
    for (const std::size_t turnedAfter : {1u, 2u, 5u}) {
        SCOPED_TRACE(turnedAfter);
        GlideWheelEncoder encoder(50);
        const auto steps = posted(detentGlide, turnedAfter);
        std::int64_t first = 0;
        for (std::size_t i = 0; i < steps.size(); ++i)
            first += encoder.encode(steps[i].pixels, steps[i].remaining, (1000 + 8 * i) * ms).hiRes;
        EXPECT_GE(first, 60) << "what went out stays out";
        const auto reversed = glide(encoder, back, 1000 * ms + turnedAfter * 8 * ms);
        EXPECT_EQ(reversed[0].hiRes, -60) << "a head start the other way";
        for (const Frame& f : reversed) EXPECT_LE(f.hiRes, 0) << "never back against the turn";
        EXPECT_EQ(sumOf(reversed, &Frame::hiRes), -120) << "one detent, its own";
        EXPECT_EQ(sumOf(reversed, &Frame::lines), -1) << "and its own whole line";
    }
}

TEST(GlideWheelEncoder, TheHeadStartIsTakenOnlyFromWhatTheGlideHolds) {
    struct Case {
        std::vector<std::int64_t> steps;
        bool knowsRemaining;
        std::int32_t first; // units of the first frame
        std::int64_t sum;
    };
    const std::vector<Case> cases = {
        // 10 pixels (24 units): all of it at once, and nothing more after.
        {{3, 3, 2, 1, 1}, true, 24, 24},
        // Without word of the rest, a frame carries only its own units.
        {detentGlide, false, 12, 120},
        // Two detents' glide in one: the first frame still takes 60.
        {{10, 9, 8, 7, 6, 5, 5, 4, 4, 3, 3, 3, 3, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2}, true, 60, 240},
    };
    for (const Case& c : cases) {
        GlideWheelEncoder encoder(50);
        const auto frames = glide(encoder, c.steps, 1000 * ms, c.knowsRemaining);
        EXPECT_EQ(frames[0].hiRes, c.first);
        EXPECT_EQ(sumOf(frames, &Frame::hiRes), c.sum);
        EXPECT_EQ(sumOf(frames, &Frame::lines), c.sum / 120);
    }
}

TEST(GlideWheelEncoder, FractionsAreCarriedFromStepToStepAndGlideToGlide) {
    // 2.4 units a pixel: every step of 1 pixel leaves a fraction over.
    GlideWheelEncoder encoder(50);
    std::int64_t units = 0;
    for (int i = 0; i < 50; ++i) units += encoder.encode(1, 0, (1000 + i) * ms).hiRes;
    EXPECT_EQ(units, 120);
    // 51 pixels and then 49 are two detents to the unit, whatever the split.
    const std::vector<std::int64_t> first(51, 1), second(49, 1);
    const auto a = glide(encoder, first, 5000 * ms, false);
    const auto b = glide(encoder, second, 9000 * ms, false);
    EXPECT_EQ(sumOf(a, &Frame::hiRes) + sumOf(b, &Frame::hiRes), 240);
    // A scroll distance of its own scales the same way: 30 pixels a detent.
    GlideWheelEncoder other(30);
    EXPECT_EQ(sumOf(glide(other, {10, 10, 5, 5}, 1000 * ms), &Frame::hiRes), 120);
}

struct InputTree : testing::FolderTree {
    InputTree() : FolderTree("input") {}
    KernelRoots roots() const { return {(path / "sys").string(), (path / "dev").string()}; }
    void device(const std::string& folder, const std::string& event, const std::string& vendor,
                const std::string& product, const std::string& name, const std::string& phys, const std::string& rel) {
        write(folder + "/id/bustype", folder.find("virtual") == std::string::npos ? "0003\n" : "0006\n");
        write(folder + "/id/vendor", vendor + "\n");
        write(folder + "/id/product", product + "\n");
        write(folder + "/name", name + "\n");
        write(folder + "/phys", phys + "\n");
        write(folder + "/capabilities/rel", rel + "\n");
        link("sys/class/input/" + event + "/device", folder);
    }
};

TEST(EvdevPrivateHIDEventSystem, ServicesAreTheInputDevicesAndSendersWhatTheTapStamped) {
    InputTree tree;
    const std::string usb = "sys/devices/pci0000:00/usb1/1-2/";
    tree.device(usb + "1-2:1.0/0003:046D:C099.0001/input/input7", "event4", "046d", "c099", "Logitech G502 X",
                "usb-0000:00:14.0-2/input0", "1943");
    tree.device(usb + "1-2:1.1/0003:046D:C099.0002/input/input8", "event5", "046d", "c099",
                "Logitech G502 X Keyboard", "usb-0000:00:14.0-2/input1", "0");
    // Ravolet's own pointer, under the mouse's identity: never a service.
    tree.device("sys/devices/virtual/input/input9", "event6", "046d", "c099", "Logitech G502 X",
                "ravolet/virtual-pointer", "1943");
    tree.device("sys/devices/virtual/input/input10", "event7", "1234", "0001", "keyd virtual pointer", "", "3");

    EvdevPrivateHIDEventSystem hid(tree.roots());
    for (const auto path : {coreGraphicsLibraryPath, iokitLibraryPath}) {
        const auto library = hid.openLibrary(path, libraryLazyBinding);
        ASSERT_TRUE(library);
        EXPECT_EQ(hid.lookupSymbol(*library, "CGEventGetIOHIDEvent"), false);
    }
    EXPECT_FALSE(hid.openLibrary("/usr/lib/libother.so", libraryLazyBinding));
    EXPECT_TRUE(hid.lookupSymbol(*hid.openLibrary(iokitLibraryPath, 1), "IOHIDServiceClientSetProperty"));

    const auto client = hid.createSimpleClient();
    ASSERT_TRUE(client);
    const auto services = hid.copyServices(*client);
    ASSERT_TRUE(services);
    // Ravolet's own pointer is not among them; another program's is.
    const std::vector<HIDServiceRef> expected{{0x100000007}, {0x100000008}, {0x10000000A}};
    EXPECT_EQ(*services, expected);
    const auto pointer = expected[0];
    EXPECT_EQ(hid.serviceRegistryID(pointer), PropertyValue(std::uint64_t{0x100000007}));
    EXPECT_EQ(hid.copyServiceProperty(pointer, "VendorID"), PropertyValue(std::int64_t{0x046D}));
    EXPECT_EQ(hid.copyServiceProperty(pointer, "ProductID"), PropertyValue(std::int64_t{0xC099}));
    EXPECT_EQ(hid.copyServiceProperty(pointer, "Product"), PropertyValue(std::string("Logitech G502 X")));
    EXPECT_EQ(hid.copyServiceProperty(pointer, "Transport"), PropertyValue(std::string("USB")));
    EXPECT_EQ(hid.copyServiceProperty(pointer, "PrimaryUsage"), PropertyValue(std::int64_t{2}));
    EXPECT_EQ(hid.copyServiceProperty(expected[1], "PrimaryUsage"), std::nullopt) << "the keyboard interface";
    EXPECT_EQ(hid.serviceRegistryID(HIDServiceRef{0x100000009}), std::nullopt);
    EXPECT_FALSE(hid.setServiceProperty(pointer, "HIDPointerAcceleration", PropertyValue(std::int64_t{0})));
    hid.releaseClient(*client);
    EXPECT_FALSE(hid.copyServices(*client)) << "a released client";

    Event fromTap(EventTypes::mouseMoved);
    fromTap.setHIDSenderID(0x100000007);
    const auto hidEvent = hid.copyIOHIDEvent(fromTap);
    ASSERT_TRUE(hidEvent);
    EXPECT_EQ(hid.hidEventSenderID(*hidEvent), 0x100000007u);
    EXPECT_FALSE(hid.copyIOHIDEvent(Event(EventTypes::scrollWheel))) << "ours carry no sender";
}

} // namespace
} // namespace ravolet::platform
