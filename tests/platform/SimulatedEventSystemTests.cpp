#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "Platform/Simulated/SimulatedEventSystem.hpp"
#include "Platform/Simulated/SimulatedPrivateHIDEventSystem.hpp"

using namespace ravolet::platform;
using namespace std::chrono_literals;

namespace {

// A thread that runs what is posted to it, in order: stands in for a tap's run loop.
class LoopThread final : public Executor {
public:
    LoopThread() : thread_([this] { run(); }) {}
    ~LoopThread() override {
        {
            std::lock_guard guard(lock_);
            stopping_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    void post(Task task) override {
        {
            std::lock_guard guard(lock_);
            tasks_.push_back(std::move(task));
        }
        wake_.notify_all();
    }
    bool isCurrent() const override { return std::this_thread::get_id() == thread_.get_id(); }
    std::thread::id id() const { return thread_.get_id(); }

private:
    void run() {
        std::unique_lock guard(lock_);
        for (;;) {
            wake_.wait(guard, [&] { return stopping_ || !tasks_.empty(); });
            if (stopping_) return;
            auto task = std::move(tasks_.front());
            tasks_.pop_front();
            guard.unlock();
            task();
            guard.lock();
        }
    }
    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<Task> tasks_;
    bool stopping_ = false;
    std::thread thread_;
};

// What one tap saw, and how it answers.
struct TapRecorder {
    enum class Answer { pass, swallow, addField };
    std::mutex lock;
    std::vector<EventType> types;
    std::vector<Event> events;
    std::vector<std::thread::id> threads;
    Answer answer = Answer::pass;
    std::int64_t mark = 0;

    static Event* callback(EventTapProxy, EventType type, Event* event, void* userInfo) {
        auto* self = static_cast<TapRecorder*>(userInfo);
        std::lock_guard guard(self->lock);
        self->types.push_back(type);
        self->events.push_back(*event);
        self->threads.push_back(std::this_thread::get_id());
        if (self->answer == Answer::swallow) return nullptr;
        if (self->answer == Answer::addField) event->setIntegerValueField(200, self->mark);
        return event;
    }
    std::vector<EventType> seenTypes() {
        std::lock_guard guard(lock);
        return types;
    }
};

constexpr std::uint64_t allMouse = (1ull << EventTypes::mouseMoved) | (1ull << EventTypes::scrollWheel) |
                                   (1ull << EventTypes::otherMouseDown) | (1ull << EventTypes::leftMouseDown);

struct SimulatedEventSystemTest : ::testing::Test {
    std::shared_ptr<SimulatedEventSystem> system = std::make_shared<SimulatedEventSystem>();
    LoopThread* makeLoop() { return loops.emplace_back(std::make_unique<LoopThread>()).get(); }
    std::shared_ptr<EventTap> tapOn(LoopThread* loop, TapRecorder& recorder, EventTapLocation location,
                                    std::uint64_t mask = allMouse,
                                    EventTapPlacement placement = EventTapPlacement::headInsert,
                                    EventTapOptions options = EventTapOptions::defaultTap) {
        auto tap = system->createTap(location, placement, options, mask, &TapRecorder::callback, &recorder);
        system->addTapToRunLoop(*tap, std::shared_ptr<Executor>(std::shared_ptr<void>(), loop));
        return tap;
    }
    std::vector<std::unique_ptr<LoopThread>> loops;
};

} // namespace

TEST(EventTest, FieldsReadBothWaysAndCompareIndependentlyOfWriteOrder) {
    Event a(EventTypes::scrollWheel);
    a.setIntegerValueField(96, -12);
    a.setDoubleValueField(93, -2.75);
    EXPECT_EQ(a.doubleValueField(96), -12.0);
    EXPECT_EQ(a.integerValueField(93), -2); // toward zero
    EXPECT_EQ(a.integerValueField(7), 0);   // never written
    a.setDoubleValueField(94, 1e300);
    EXPECT_EQ(a.integerValueField(94), INT64_MAX);

    Event b(EventTypes::scrollWheel);
    b.setDoubleValueField(93, -2.75);
    b.setIntegerValueField(96, -12);
    b.setDoubleValueField(94, 1e300);
    EXPECT_EQ(a, b);
    b.setIntegerValueField(96, -13);
    EXPECT_NE(a, b);
}

TEST(EventTest, ManyFieldsStaySortedAndEqualBeyondTheRoomKeptInTheEvent) {
    // More fields than any event of the program carries, written in opposite
    // orders, one event growing past its own room while the other copies.
    Event up(EventTypes::scrollWheel), down(EventTypes::scrollWheel);
    for (EventField f = 0; f < 40; ++f) up.setIntegerValueField(f * 3, f);
    for (EventField f = 40; f-- > 0;) {
        down.setDoubleValueField(f * 3, -1.5);
        down.setIntegerValueField(f * 3, f);
        if (f == 30) {
            EXPECT_NE(up, down);
        }
    }
    EXPECT_EQ(up, down);
    const Event copy = down;
    EXPECT_EQ(copy, up);
    for (EventField f = 0; f < 40; ++f) {
        EXPECT_EQ(copy.integerValueField(f * 3), f);
        EXPECT_EQ(copy.integerValueField(f * 3 + 1), 0);
    }
}

TEST_F(SimulatedEventSystemTest, InjectedEventsRunThroughMatchingTapsOnTheirOwnThreadsInStreamOrder) {
    TapRecorder hidTap, sessionHead, sessionTail, keysOnly;
    auto* l1 = makeLoop();
    auto* l2 = makeLoop();
    auto* l3 = makeLoop();
    auto tail = tapOn(l3, sessionTail, EventTapLocation::session, allMouse, EventTapPlacement::tailAppend);
    auto head = tapOn(l2, sessionHead, EventTapLocation::session);
    auto hid = tapOn(l1, hidTap, EventTapLocation::hid);
    auto keys = tapOn(l1, keysOnly, EventTapLocation::session, 1ull << EventTypes::keyDown);
    hidTap.answer = TapRecorder::Answer::addField;
    hidTap.mark = 1;
    sessionHead.answer = TapRecorder::Answer::addField;
    sessionHead.mark = 2;

    const auto mouse = SimulatedDevice::targetMouse();
    system->inject(mouse, SimulatedEventSystem::motionEvent(3, -4));
    ASSERT_TRUE(system->waitUntilIdle());

    // The HID tap changed the event before the session taps saw it; the head
    // tap of the session ran before the tail one.
    ASSERT_EQ(hidTap.events.size(), 1u);
    ASSERT_EQ(sessionHead.events.size(), 1u);
    ASSERT_EQ(sessionTail.events.size(), 1u);
    EXPECT_EQ(hidTap.events[0].integerValueField(200), 0);
    EXPECT_EQ(sessionHead.events[0].integerValueField(200), 1);
    EXPECT_EQ(sessionTail.events[0].integerValueField(200), 2);
    EXPECT_EQ(hidTap.threads[0], l1->id());
    EXPECT_EQ(sessionHead.threads[0], l2->id());
    EXPECT_EQ(sessionTail.threads[0], l3->id());
    EXPECT_TRUE(keysOnly.seenTypes().empty());

    const auto delivered = system->delivered();
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0].integerValueField(200), 2);
    EXPECT_EQ(delivered[0].integerValueField(4), 3);
    EXPECT_EQ(delivered[0].hidSenderID(), mouse.registryID);
    EXPECT_NE(delivered[0].timestamp(), 0u);
}

TEST_F(SimulatedEventSystemTest, SwallowedEventsNeverReachTheSystemAndListenersCannotSwallow) {
    TapRecorder listener, filter;
    auto* loop = makeLoop();
    auto l = tapOn(loop, listener, EventTapLocation::hid, allMouse, EventTapPlacement::headInsert,
                   EventTapOptions::listenOnly);
    auto f = tapOn(loop, filter, EventTapLocation::session);
    listener.answer = TapRecorder::Answer::swallow;
    filter.answer = TapRecorder::Answer::swallow;

    system->inject(SimulatedDevice::otherMouse(), SimulatedEventSystem::wheelEvent(-1));
    ASSERT_TRUE(system->waitUntilIdle());
    EXPECT_EQ(filter.seenTypes().size(), 1u); // the listener's "swallow" was ignored
    EXPECT_TRUE(system->delivered().empty());
    ASSERT_EQ(system->swallowed().size(), 1u);
    EXPECT_EQ(system->swallowed()[0].integerValueField(11), -1);
}

TEST_F(SimulatedEventSystemTest, PostedEventsComeBackThroughTapsFromTheirLocationOn) {
    TapRecorder hidTap, sessionTap;
    auto* loop = makeLoop();
    auto h = tapOn(loop, hidTap, EventTapLocation::hid);
    auto s = tapOn(loop, sessionTap, EventTapLocation::session);

    auto source = system->createSource(EventSourceStateID::privateState);
    source->setUserData(0x5241564F4C4554);
    auto event = system->createMouseEvent(source.get(), EventTypes::otherMouseDown, Point{10, 20}, 4);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->integerValueField(42), 0x5241564F4C4554);
    EXPECT_EQ(event->integerValueField(3), 4);
    system->post(EventTapLocation::session, *event);
    ASSERT_TRUE(system->waitUntilIdle());

    EXPECT_TRUE(hidTap.seenTypes().empty());
    ASSERT_EQ(sessionTap.seenTypes().size(), 1u);
    EXPECT_EQ(sessionTap.events[0].integerValueField(42), 0x5241564F4C4554);
    EXPECT_EQ(sessionTap.events[0].hidSenderID(), 0u); // nothing behind a program's event
    ASSERT_EQ(system->posted().size(), 1u);
    ASSERT_EQ(system->delivered().size(), 1u);
    EXPECT_EQ(system->delivered()[0].location(), (Point{10, 20}));
}

TEST_F(SimulatedEventSystemTest, HardwareButtonAndDragEventsCarryTheirSenderInField87) {
    auto device = SimulatedDevice::otherMouse();
    system->inject(device, SimulatedEventSystem::buttonEvent(EventTypes::otherMouseDown, 3));
    system->inject(device, SimulatedEventSystem::motionEvent(1, 1));
    device.fillsSenderField = false;
    device.providesHIDEvent = false;
    system->inject(device, SimulatedEventSystem::buttonEvent(EventTypes::leftMouseDown, 0));
    ASSERT_TRUE(system->waitUntilIdle());
    const auto delivered = system->delivered();
    ASSERT_EQ(delivered.size(), 3u);
    EXPECT_EQ(delivered[0].integerValueField(87), static_cast<std::int64_t>(device.registryID));
    EXPECT_EQ(delivered[1].integerValueField(87), 0); // mouse moved: not filled
    EXPECT_EQ(delivered[2].integerValueField(87), 0);
    EXPECT_EQ(delivered[2].hidSenderID(), 0u);
}

TEST_F(SimulatedEventSystemTest, RefusalsAreScriptable) {
    system->setTapsAllowed(false);
    TapRecorder recorder;
    EXPECT_EQ(system->createTap(EventTapLocation::session, EventTapPlacement::headInsert, EventTapOptions::defaultTap,
                                allMouse, &TapRecorder::callback, &recorder),
              nullptr);
    system->setSourcesAllowed(false);
    EXPECT_EQ(system->createSource(EventSourceStateID::privateState), nullptr);
    system->setEventsAllowed(false);
    EXPECT_FALSE(system->createKeyboardEvent(nullptr, 0, true));
    EXPECT_FALSE(system->createEvent(nullptr));
}

TEST_F(SimulatedEventSystemTest, SwitchingATapOffTellsItsCallbackOnItsThreadAndEventsPassItBy) {
    TapRecorder recorder;
    auto* loop = makeLoop();
    recorder.answer = TapRecorder::Answer::swallow;
    auto tap = tapOn(loop, recorder, EventTapLocation::session);
    system->disableTap(*tap, EventTypes::tapDisabledByUserInput);
    system->inject(SimulatedDevice::targetMouse(), SimulatedEventSystem::wheelEvent(1));
    ASSERT_TRUE(system->waitUntilIdle());

    EXPECT_FALSE(system->isTapEnabled(*tap));
    EXPECT_EQ(recorder.seenTypes(), std::vector<EventType>{EventTypes::tapDisabledByUserInput});
    EXPECT_EQ(recorder.threads[0], loop->id());
    EXPECT_EQ(system->delivered().size(), 1u); // the swallowing tap was off

    system->enableTap(*tap, true);
    system->inject(SimulatedDevice::targetMouse(), SimulatedEventSystem::wheelEvent(1));
    ASSERT_TRUE(system->waitUntilIdle());
    EXPECT_EQ(system->swallowed().size(), 1u);
}

TEST_F(SimulatedEventSystemTest, ATapWhoseRunLoopDoesNotAnswerIsSwitchedOffByTimeout) {
    // An executor that never runs anything.
    struct Dead final : Executor {
        void post(Task) override {}
        bool isCurrent() const override { return false; }
    };
    TapRecorder recorder;
    auto tap = system->createTap(EventTapLocation::session, EventTapPlacement::headInsert, EventTapOptions::defaultTap,
                                 allMouse, &TapRecorder::callback, &recorder);
    system->addTapToRunLoop(*tap, std::make_shared<Dead>());
    system->setTapResponseLimit(20ms);
    system->inject(SimulatedDevice::targetMouse(), SimulatedEventSystem::wheelEvent(2));
    ASSERT_TRUE(system->waitUntilIdle());
    EXPECT_FALSE(system->isTapEnabled(*tap));
    EXPECT_EQ(system->delivered().size(), 1u);
}

TEST_F(SimulatedEventSystemTest, ReleasedTapsAreForgotten) {
    TapRecorder recorder;
    auto* loop = makeLoop();
    {
        auto tap = tapOn(loop, recorder, EventTapLocation::session);
        EXPECT_EQ(system->tapCount(), 1u);
    }
    EXPECT_EQ(system->tapCount(), 0u);
    system->inject(SimulatedDevice::targetMouse(), SimulatedEventSystem::wheelEvent(1));
    ASSERT_TRUE(system->waitUntilIdle());
    EXPECT_TRUE(recorder.seenTypes().empty());
}

TEST(SimulatedPrivateHIDEventSystemTest, FunctionsLibrariesServicesAndProperties) {
    SimulatedPrivateHIDEventSystem hid;
    const auto cg = hid.openLibrary(coreGraphicsLibraryPath, libraryLazyBinding);
    const auto iokit = hid.openLibrary(iokitLibraryPath, libraryLazyBinding);
    ASSERT_TRUE(cg && iokit);
    EXPECT_TRUE(hid.lookupSymbol(*cg, "CGEventCopyIOHIDEvent"));
    EXPECT_FALSE(hid.lookupSymbol(*cg, "IOHIDEventGetSenderID")); // wrong library
    hid.dropFunction("IOHIDServiceClientCopyProperty");
    EXPECT_FALSE(hid.lookupSymbol(*iokit, "IOHIDServiceClientCopyProperty"));
    hid.failLibrary(std::string(iokitLibraryPath));
    EXPECT_FALSE(hid.openLibrary(iokitLibraryPath, libraryLazyBinding));

    hid.attach(SimulatedDevice::targetMouse(7));
    hid.attach(SimulatedDevice::trackpad(9));
    const auto client = hid.createSimpleClient();
    ASSERT_TRUE(client);
    const auto services = hid.copyServices(*client);
    ASSERT_TRUE(services);
    ASSERT_EQ(services->size(), 2u);
    EXPECT_EQ(propertyUInt64(*hid.serviceRegistryID((*services)[0])), 7u);
    EXPECT_EQ(propertyInt64(*hid.copyServiceProperty((*services)[0], "ProductID")), 0xC099);
    EXPECT_TRUE(hid.setServiceProperty((*services)[1], "HIDPointerAcceleration", PropertyValue{std::int64_t{45056}}));
    EXPECT_EQ(propertyInt64(*hid.property(9, "HIDPointerAcceleration")), 45056);
    hid.detach(7);
    EXPECT_EQ(hid.copyServices(*client)->size(), 1u);
    EXPECT_FALSE(hid.serviceRegistryID((*services)[0])); // gone with its device

    Event hardware(EventTypes::mouseMoved);
    hardware.setHIDSenderID(9);
    const auto hidEvent = hid.copyIOHIDEvent(hardware);
    ASSERT_TRUE(hidEvent);
    EXPECT_EQ(hid.hidEventSenderID(*hidEvent), 9u);
    EXPECT_EQ(hid.outstandingHIDEvents(), 1);
    hid.releaseHIDEvent(*hidEvent);
    EXPECT_EQ(hid.outstandingHIDEvents(), 0);
    EXPECT_FALSE(hid.copyIOHIDEvent(Event(EventTypes::mouseMoved)));
}
