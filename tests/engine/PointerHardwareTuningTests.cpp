#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <utility>

#include "Platform/Simulated/InMemoryFileSystem.hpp"
#include "Platform/Simulated/InMemoryKeyValueStore.hpp"
#include "Platform/Simulated/ManualScheduler.hpp"
#include "Platform/SerialQueue.hpp"
#include "Platform/Simulated/SimulatedClock.hpp"
#include "RavoletEngine/Coordination/DesktopPointerPropertyBackend.hpp"
#include "RavoletEngine/Coordination/FakePointerPropertyBackend.hpp"
#include "RavoletEngine/Coordination/LivePointerPropertyBackend.hpp"
#include "RavoletEngine/Coordination/PointerHardwareTuning.hpp"
#include "RavoletEngine/Coordination/PointerTuningGuard.hpp"
#include "Platform/Linux/LinuxFileSystem.hpp"
#include "tests/platform/FolderTree.hpp"

using namespace ravolet;
using namespace ravolet::platform;
using Reason = PointerTuningRestoreReason;
using Write = PointerPropertyWrite;
using Tuning = PointerHardwareTuning;

namespace {

constexpr std::uint64_t mouseID = 0x1000;
constexpr std::int64_t originalResolution = 400 * 65536;
constexpr std::int64_t originalAcceleration = 45056;
const std::string res{Tuning::resolutionKey};
const std::string accel{Tuning::fallbackAccelerationKey};

PointerServiceIdentity mouse(std::uint64_t id = mouseID, std::int64_t vendor = 0x046D, std::int64_t product = 0xC099) {
    return PointerServiceIdentity{id, vendor, product, "G502 X", 1, 2};
}

// Forwards to the in-memory backend and notes, for every write, whether the
// capture file was on disk at that moment. One call at a time, from any thread.
class WatchedBackend final : public PointerPropertyBackend {
public:
    WatchedBackend(std::shared_ptr<FakePointerPropertyBackend> fake, std::shared_ptr<FileSystem> files, std::filesystem::path file)
        : fake_(std::move(fake)), files_(std::move(files)), file_(std::move(file)) {}
    bool canWrite() const override { return fake_->canWrite(); }
    std::vector<PointerServiceIdentity> services() override {
        std::lock_guard guard(lock_);
        return fake_->services();
    }
    std::optional<std::int64_t> readNumber(std::string_view k, std::uint64_t id) override {
        std::lock_guard guard(lock_);
        return unreadable ? std::nullopt : fake_->readNumber(k, id);
    }
    std::optional<std::string> readString(std::string_view k, std::uint64_t id) override {
        std::lock_guard guard(lock_);
        return fake_->readString(k, id);
    }
    PointerPropertyWrite writeNumber(std::string_view k, std::int64_t v, std::uint64_t id) override {
        if (onWrite) onWrite();
        std::lock_guard guard(lock_);
        fileOnDiskAtWrite.push_back(files_->exists(file_));
        const auto result = fake_->writeNumber(k, v, id);
        return refusedAfterLanding ? Write::refused : result;
    }
    bool serviceExists(std::uint64_t id) override {
        std::lock_guard guard(lock_);
        return fake_->serviceExists(id);
    }
    bool resolutionIsFixed() const override { return fixedResolution; }
    void beginOperation() override {
        if (auto once = std::exchange(onNextOperation, nullptr)) once();
    }
    // Runs just before each write reaches the desktop.
    std::function<void()> onWrite;
    // Runs once, as the tuner's next operation begins.
    std::function<void()> onNextOperation;
    std::vector<bool> fileOnDiskAtWrite;
    // A desktop that answers after the time-out, or takes one of two parts:
    // the write lands and is reported refused.
    bool refusedAfterLanding = false;
    bool fixedResolution = false;
    // The desktop lists no device of the identity: nothing can be read.
    bool unreadable = false;

private:
    std::mutex lock_;
    std::shared_ptr<FakePointerPropertyBackend> fake_;
    std::shared_ptr<FileSystem> files_;
    std::filesystem::path file_;
};

// Forwards every call once the desktop answers: until open(), none returns.
class GatedBackend final : public PointerPropertyBackend {
public:
    explicit GatedBackend(std::shared_ptr<PointerPropertyBackend> inner) : inner_(std::move(inner)) {}
    void open() {
        std::lock_guard guard(lock_);
        open_ = true;
        opened_.notify_all();
    }
    bool canWrite() const override { return inner_->canWrite(); }
    std::vector<PointerServiceIdentity> services() override { return wait(), inner_->services(); }
    std::optional<std::int64_t> readNumber(std::string_view k, std::uint64_t id) override {
        return wait(), inner_->readNumber(k, id);
    }
    std::optional<std::string> readString(std::string_view k, std::uint64_t id) override {
        return wait(), inner_->readString(k, id);
    }
    PointerPropertyWrite writeNumber(std::string_view k, std::int64_t v, std::uint64_t id) override {
        return wait(), inner_->writeNumber(k, v, id);
    }
    bool serviceExists(std::uint64_t id) override { return wait(), inner_->serviceExists(id); }

private:
    void wait() {
        std::unique_lock guard(lock_);
        opened_.wait(guard, [&] { return open_; });
    }
    const std::shared_ptr<PointerPropertyBackend> inner_;
    std::mutex lock_;
    std::condition_variable opened_;
    bool open_ = false;
};

struct TuningTest : ::testing::Test {
    std::shared_ptr<FakePointerPropertyBackend> fake = std::make_shared<FakePointerPropertyBackend>(std::vector{mouse()});
    std::shared_ptr<InMemoryKeyValueStore> defaults = std::make_shared<InMemoryKeyValueStore>();
    std::shared_ptr<SimulatedClock> clock = std::make_shared<SimulatedClock>();
    std::shared_ptr<InMemoryFileSystem> files = std::make_shared<InMemoryFileSystem>();
    const std::filesystem::path captureFile = files->settingsFolder() / "pointer-hardware-capture.json";
    std::shared_ptr<WatchedBackend> backend = std::make_shared<WatchedBackend>(fake, files, captureFile);

    TuningTest() { fake->seed(mouseID, {{res, originalResolution}, {accel, originalAcceleration}}); }

    std::unique_ptr<Tuning> make(std::vector<HIDPPDeviceMatch> matches = {HIDPPDeviceMatch::g502X}) {
        return std::make_unique<Tuning>(backend, defaults, std::nullopt, std::move(matches), clock, files);
    }
    std::unique_ptr<Tuning> applied(std::int64_t dpi = 1600) {
        auto tuning = make();
        tuning->request({true, dpi});
        return tuning;
    }
    std::optional<std::int64_t> value(const std::string& key, std::uint64_t id = mouseID) const {
        return fake->readNumber(key, id);
    }
    void expectOriginalsBack(std::uint64_t id = mouseID) const {
        EXPECT_EQ(value(res, id), originalResolution);
        EXPECT_EQ(value(accel, id), originalAcceleration);
    }
    // A capture of the mouse as an earlier run would have left it.
    PointerTuningCapture strandedCapture(std::uint64_t id = mouseID) const {
        return PointerTuningCapture{1, mouse(id), accel, originalResolution, originalAcceleration, SimulatedClock::defaultStart};
    }
    void leaveCaptureFile(const PointerTuningCapture& capture) { files->putFile(captureFile, *capture.encoded()); }
};

} // namespace

TEST_F(TuningTest, ApplySavesTheOriginalsBeforeTheFirstWriteThenLinearisesTheMouse) {
    auto tuning = make();
    EXPECT_TRUE(tuning->status().isEnabled); // nothing stored: on
    EXPECT_TRUE(tuning->status().isSupported);
    EXPECT_FALSE(tuning->status().isApplied); // not permitted yet

    clock->advance(std::chrono::milliseconds(750)); // a capture keeps whole seconds only
    tuning->request({true, 1600});
    const auto& s = tuning->status();
    EXPECT_EQ(backend->fileOnDiskAtWrite, (std::vector{true, true}));
    EXPECT_EQ(value(res), 1600 * 65536);
    EXPECT_EQ(value(accel), Tuning::disabledAcceleration);
    EXPECT_TRUE(s.isApplied);
    EXPECT_EQ(s.target, mouse());
    EXPECT_EQ(s.resolutionWrite, Write::eventSystem);
    EXPECT_EQ(s.accelerationWrite, Write::eventSystem);
    EXPECT_EQ(s.appliedResolution, 1600 * 65536);
    EXPECT_EQ(s.appliedAcceleration, -65536);
    EXPECT_EQ(s.lastReadBackResolution, 1600 * 65536);
    EXPECT_EQ(s.lastReadBackAcceleration, -65536);
    EXPECT_EQ(s.lastError, std::nullopt);
    EXPECT_TRUE(s.accelerationIsLinearised());
    EXPECT_EQ(s.capturedResolutionCPI(), 400.0);
    EXPECT_EQ(s.overestimateFactor(), 4.0);

    const PointerTuningCapture expected{1, mouse(), accel, originalResolution, originalAcceleration,
                                        SimulatedClock::defaultStart};
    EXPECT_EQ(s.capture, expected);
    EXPECT_EQ(tuning->persistedCapture(), expected); // the capture held equals the one on disk
}

TEST_F(TuningTest, NothingIsWrittenWhenTheOriginalsCannotBeSaved) {
    files->fail(InMemoryFileSystem::Operation::write, ENOSPC);
    auto tuning = applied();
    EXPECT_TRUE(fake->writeLog().empty());
    EXPECT_FALSE(tuning->status().isApplied);
    EXPECT_EQ(tuning->status().capture, std::nullopt);
    EXPECT_EQ(tuning->status().lastError, "could not save the original values to disk — nothing was written");

    files->fail(InMemoryFileSystem::Operation::write, 0);
    tuning->deviceDPIReported(1600); // unchanged DPI, but not applied: tries again
    EXPECT_TRUE(tuning->status().isApplied);
    EXPECT_TRUE(files->exists(captureFile));

    // Set flat again over a value the user set meanwhile: the capture that
    // follows it must be on disk first, or a crash would put back the older one.
    constexpr std::int64_t users = 12345;
    fake->seed(mouseID, {{accel, users}});
    files->fail(InMemoryFileSystem::Operation::write, ENOSPC);
    tuning->deviceDPIReported(3200);
    EXPECT_EQ(value(accel), users);
    const auto error = tuning->status().lastError.value_or("");
    EXPECT_TRUE(error.starts_with("could not save the original values: ") && error.ends_with(" — nothing was written"))
        << error;
}

TEST_F(TuningTest, EveryRestoreTriggerPutsTheOriginalsBackAndRecordsItsReason) {
    const std::vector<std::pair<Reason, std::function<void(Tuning&)>>> triggers{
        {Reason::engineStopped, [](Tuning& t) { t.request({false}); t.restore(Reason::engineStopped); }},
        {Reason::switchedOff, [](Tuning& t) { t.setEnabled(false); }},
        {Reason::notRequested, [](Tuning& t) { t.request({false}); }},
        {Reason::targetDisappeared, [this](Tuning& t) { fake->setServices({}); t.request({true}); }},
        {Reason::targetDisappeared, [](Tuning& t) { t.setDeviceMatches({{0x046D, 0xC08B}}); }},
    };
    for (const auto& [reason, trigger] : triggers) {
        SCOPED_TRACE(toString(reason));
        fake->setServices({mouse()});
        defaults->remove(Tuning::enabledDefaultsKey);
        auto tuning = applied();
        ASSERT_TRUE(files->exists(captureFile));
        trigger(*tuning);
        expectOriginalsBack();
        const auto& s = tuning->status();
        EXPECT_EQ(s.lastRestoreReason, reason);
        EXPECT_FALSE(s.isApplied);
        EXPECT_EQ(s.capture, std::nullopt);
        EXPECT_EQ(s.appliedResolution, std::nullopt);
        EXPECT_EQ(s.accelerationWrite, std::nullopt);
        EXPECT_FALSE(files->exists(captureFile));
    }
}

TEST_F(TuningTest, ARefusedRestoreKeepsTheOriginalsUntilALaterRestoreSucceeds) {
    auto tuning = applied();
    fake->setKeysRefusedEverywhere({accel});
    tuning->restore(Reason::engineStopped);
    auto s = tuning->status();
    EXPECT_TRUE(s.isApplied);
    EXPECT_TRUE(s.restoreFailed);
    EXPECT_EQ(s.restoreFailedKeys, std::vector<std::string>{accel});
    EXPECT_EQ(s.lastError, "Your desktop refused to put HIDMouseAcceleration back on this device. Ravolet's values are still in "
                           "force and the saved originals have been kept — they will be tried again, and on the next launch.");
    EXPECT_TRUE(s.capture);
    EXPECT_TRUE(files->exists(captureFile));
    EXPECT_EQ(s.appliedAcceleration, -65536); // the written fields stay as they were

    fake->setKeysRefusedEverywhere({});
    tuning->restore(Reason::switchedOff);
    s = tuning->status();
    expectOriginalsBack();
    EXPECT_FALSE(s.isApplied);
    EXPECT_FALSE(s.restoreFailed);
    EXPECT_EQ(s.lastError, std::nullopt);
    EXPECT_FALSE(files->exists(captureFile));
}

TEST_F(TuningTest, AStrandedCaptureIsWrittenBackAtConstructionWhateverTheSwitchSays) {
    defaults->set(Tuning::enabledDefaultsKey, false);
    fake->seed(mouseID, {{res, 1600 * 65536}, {accel, -65536}}); // a crashed run's values
    leaveCaptureFile(strandedCapture());
    auto tuning = make();
    expectOriginalsBack();
    EXPECT_FALSE(files->exists(captureFile));
    const auto& s = tuning->status();
    EXPECT_TRUE(s.recoveredStrandedCapture);
    EXPECT_EQ(s.lastRestoreReason, Reason::strandedCaptureRecovered);
    EXPECT_FALSE(s.isApplied);
    EXPECT_EQ(s.lastReadBackResolution, originalResolution);
    EXPECT_EQ(s.lastReadBackAcceleration, originalAcceleration);

    tuning->setEnabled(true);
    tuning->request({true, 1600});
    tuning->restore(Reason::engineStopped);
    EXPECT_TRUE(tuning->status().recoveredStrandedCapture); // never set back
}

TEST_F(TuningTest, AStrandedCaptureThatCannotGoBackIsHeldAndTriedAgain) {
    fake->setKeysRefusedEverywhere({res});
    leaveCaptureFile(strandedCapture());
    auto tuning = make();
    auto s = tuning->status();
    EXPECT_TRUE(s.isApplied);
    EXPECT_TRUE(s.restoreFailed);
    EXPECT_EQ(s.restoreFailedKeys, std::vector<std::string>{res});
    EXPECT_EQ(s.capture, strandedCapture());
    EXPECT_EQ(s.lastError, "Ravolet still had a correction applied from a previous run and could not put "
                           "HIDPointerResolution back yet. The saved originals have been kept and will be tried again.");
    EXPECT_TRUE(files->exists(captureFile));

    // A later apply to the same service keeps the captured originals, not the values now on the device.
    fake->setKeysRefusedEverywhere({});
    fake->seed(mouseID, {{res, 1600 * 65536}});
    tuning->request({true, 800});
    EXPECT_EQ(tuning->status().capture, strandedCapture());

    // A successful restore clears the recovery text too.
    tuning->restore(Reason::engineStopped);
    EXPECT_EQ(tuning->status().lastError, std::nullopt);
    expectOriginalsBack();
}

TEST_F(TuningTest, AStrandedCaptureOfAServiceThatNoLongerExistsIsDiscarded) {
    fake->setKeysRefusedEverywhere({res, accel}); // nothing takes a value for an unknown service
    leaveCaptureFile(strandedCapture(0x9999));
    auto tuning = make();
    const auto& s = tuning->status();
    EXPECT_TRUE(s.recoveredStrandedCapture);
    EXPECT_FALSE(s.isApplied);
    EXPECT_FALSE(s.restoreFailed);
    EXPECT_EQ(s.capture, std::nullopt);
    EXPECT_EQ(s.lastError, std::nullopt);
    EXPECT_FALSE(files->exists(captureFile));
}

TEST_F(TuningTest, UnusableCaptureFilesAreIgnoredAndLeftOnDisk) {
    auto otherSchema = strandedCapture();
    otherSchema.schema = 2;
    for (const std::string& bytes : {*otherSchema.encoded(), std::string("{\"schema\": 1"), std::string("[]")}) {
        files->putFile(captureFile, bytes);
        auto tuning = make();
        EXPECT_FALSE(tuning->status().recoveredStrandedCapture);
        EXPECT_TRUE(fake->writeLog().empty());
        EXPECT_EQ(files->readFile(captureFile), bytes);
    }
}

TEST_F(TuningTest, TheTargetIsTheMatchingMouseCollectionWithTheSmallestUnsignedRegistryID) {
    const std::uint64_t topBit = 0x8000000000000000;
    auto keyboardPage = mouse(0x10);
    keyboardPage.primaryUsage = 6;
    auto noVendor = mouse(0x11);
    noVendor.vendorID.reset();
    fake->setServices({mouse(topBit), mouse(0x500), keyboardPage, noVendor, mouse(0x12, 0x046D, 0xC08B), mouse(0x400)});
    auto tuning = make();
    const auto candidates = tuning->candidateServices();
    ASSERT_EQ(candidates.size(), 3u);
    EXPECT_EQ(candidates[0].registryID, topBit); // the backend's order
    tuning->request({true, 1600});
    EXPECT_EQ(tuning->status().target, mouse(0x400));

    EXPECT_TRUE(make({})->candidateServices().empty()); // no matches, nothing to tune
}

TEST_F(TuningTest, TheAccelerationIsCapturedAndWrittenUnderTheKeyTheServiceNames) {
    fake->seed(mouseID, {{"HIDTrackpadAcceleration", 20000}}, {{std::string(Tuning::accelerationTypeKey), "HIDTrackpadAcceleration"}});
    auto tuning = applied();
    EXPECT_EQ(tuning->status().capture->accelerationKey, "HIDTrackpadAcceleration");
    EXPECT_EQ(tuning->status().capture->acceleration, 20000);
    EXPECT_EQ(value("HIDTrackpadAcceleration"), -65536);
    EXPECT_EQ(value(accel), originalAcceleration); // the fallback key is left alone
    tuning->restore(Reason::engineStopped);
    EXPECT_EQ(value("HIDTrackpadAcceleration"), 20000);
}

TEST_F(TuningTest, WhatIsMissingOrRefusedIsLeftAloneAndSaidSo) {
    struct Case {
        const char* name;
        FakePointerPropertyBackend::Numbers seeded;
        std::set<std::string, std::less<>> refused;
        std::optional<std::int64_t> dpi;
        Write resolution, acceleration;
        bool applied, captureKept;
        std::optional<std::string> error;
    };
    const std::string noAcceleration = "this device carries no per-device HIDMouseAcceleration to read, so Ravolet left "
                                       "it alone — a value it cannot put back is a value it will not write";
    const std::vector<Case> cases{
        {"no DPI known", {{res, 1}, {accel, 1}}, {}, std::nullopt, Write::skipped, Write::eventSystem, true, true, {}},
        {"DPI 0", {{res, 1}, {accel, 1}}, {}, 0, Write::skipped, Write::eventSystem, true, true, {}},
        {"no resolution", {{accel, 1}}, {}, 1600, Write::skipped, Write::eventSystem, true, true, {}},
        {"no acceleration", {{res, 1}}, {}, 1600, Write::eventSystem, Write::skipped, true, true, noAcceleration},
        {"acceleration refused", {{res, 1}, {accel, 1}}, {accel}, 1600, Write::eventSystem, Write::refused, true, true,
         "Your desktop refused to change HIDMouseAcceleration on this device"},
        {"both refused", {{res, 1}, {accel, 1}}, {res, accel}, 1600, Write::refused, Write::refused, false, true,
         "Your desktop refused to change HIDMouseAcceleration on this device"},
        {"nothing to capture", {}, {}, 1600, Write::skipped, Write::skipped, false, false, noAcceleration},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake = std::make_shared<FakePointerPropertyBackend>(std::vector{mouse()});
        files = std::make_shared<InMemoryFileSystem>();
        backend = std::make_shared<WatchedBackend>(fake, files, captureFile);
        fake->seed(mouseID, c.seeded);
        fake->setKeysRefusedEverywhere(c.refused);
        auto tuning = make();
        tuning->request({true, c.dpi});
        const auto& s = tuning->status();
        EXPECT_EQ(s.resolutionWrite, c.resolution);
        EXPECT_EQ(s.accelerationWrite, c.acceleration);
        EXPECT_EQ(s.isApplied, c.applied);
        EXPECT_EQ(s.capture.has_value(), c.captureKept);
        EXPECT_EQ(files->exists(captureFile), c.captureKept);
        EXPECT_EQ(s.lastError, c.error);
        if (c.resolution == Write::refused) {
            EXPECT_EQ(s.appliedResolution, std::nullopt);
        }
    }
}

// A refusal is not proof that nothing changed: the originals stay until a
// put-back finds what is there, and go back only where Ravolet's value is.
TEST_F(TuningTest, AWriteReportedRefusedKeepsTheOriginalsUntilAPutBackJudgesIt) {
    for (const bool landed : {true, false}) {
        SCOPED_TRACE(landed ? "landed" : "did not land");
        fake = std::make_shared<FakePointerPropertyBackend>(std::vector{mouse()});
        files = std::make_shared<InMemoryFileSystem>();
        backend = std::make_shared<WatchedBackend>(fake, files, captureFile);
        fake->seed(mouseID, {{res, originalResolution}, {accel, originalAcceleration}});
        if (landed)
            backend->refusedAfterLanding = true;
        else
            fake->setKeysRefusedEverywhere({res, accel});
        auto tuning = applied();
        EXPECT_FALSE(tuning->status().isApplied);
        EXPECT_EQ(value(accel), landed ? Tuning::disabledAcceleration : originalAcceleration);
        EXPECT_TRUE(files->exists(captureFile));
        backend->refusedAfterLanding = false;
        fake->setKeysRefusedEverywhere({});
        tuning->restore(Reason::engineStopped);
        expectOriginalsBack();
        EXPECT_FALSE(files->exists(captureFile));
        EXPECT_FALSE(tuning->status().restoreFailed);
    }
}

TEST_F(TuningTest, BothWritesRefusedOnAKeptCaptureKeepIt) {
    auto tuning = applied();
    const auto capture = tuning->status().capture;
    fake->setKeysRefusedEverywhere({res, accel});
    tuning->deviceDPIReported(800);
    EXPECT_FALSE(tuning->status().isApplied);
    EXPECT_EQ(tuning->status().capture, capture);
    EXPECT_TRUE(files->exists(captureFile));

    // A successful restore keeps a text that is not about restoring.
    fake->setKeysRefusedEverywhere({});
    tuning->setEnabled(false);
    expectOriginalsBack();
    EXPECT_EQ(tuning->status().lastError, "Your desktop refused to change HIDMouseAcceleration on this device");
}

TEST_F(TuningTest, DPIReportsRewriteTheResolutionOnTheFirstCapture) {
    auto tuning = applied(1600);
    const auto capture = tuning->status().capture;
    const auto bytes = files->readFile(captureFile);
    const auto writes = fake->writeLog().size();

    tuning->request({true}); // no DPI: the known one stays
    EXPECT_EQ(value(res), 1600 * 65536);
    for (const std::optional<std::int64_t> ignored : {std::optional<std::int64_t>{}, std::optional<std::int64_t>{0},
                                                      std::optional<std::int64_t>{-5}, std::optional{std::int64_t{1} << 47}}) {
        const auto before = fake->writeLog().size();
        tuning->deviceDPIReported(ignored);
        EXPECT_EQ(fake->writeLog().size(), before);
    }
    const auto beforeSame = fake->writeLog().size();
    tuning->deviceDPIReported(1600); // the same DPI while applied
    EXPECT_EQ(fake->writeLog().size(), beforeSame);
    EXPECT_GT(beforeSame, writes);

    tuning->deviceDPIReported(3200);
    EXPECT_EQ(value(res), 3200 * 65536);
    EXPECT_EQ(tuning->status().appliedResolution, 3200 * 65536);
    EXPECT_EQ(tuning->status().capture, capture);
    EXPECT_EQ(files->readFile(captureFile), bytes);

    // A request whose DPI the resolution cannot hold keeps the known one.
    tuning->request({true, std::int64_t{1} << 47});
    EXPECT_EQ(value(res), 3200 * 65536);
}

TEST_F(TuningTest, FixedPointConversionRefusesWhatDoesNotFit) {
    const std::int64_t limit = std::int64_t{1} << 47;
    EXPECT_EQ(Tuning::fixed(1600), 1600 * 65536);
    EXPECT_EQ(Tuning::fixed(-1), -65536);
    EXPECT_EQ(Tuning::fixed(limit - 1), (limit - 1) * 65536);
    EXPECT_EQ(Tuning::fixed(-(limit - 1)), -(limit - 1) * 65536);
    EXPECT_EQ(Tuning::fixed(limit), std::nullopt);
    EXPECT_EQ(Tuning::fixed(-limit), std::nullopt);
    EXPECT_EQ(Tuning::fixed(INT64_MIN), std::nullopt);
    EXPECT_EQ(Tuning::cpi(1600 * 65536 + 32768), 1600.5);
}

TEST_F(TuningTest, TheSwitchIsStoredOnlyWhenItChanges) {
    defaults->set(Tuning::enabledDefaultsKey, "no"); // not a Boolean: on
    auto tuning = make();
    EXPECT_TRUE(tuning->isEnabled());
    const auto writes = defaults->writeCount();
    tuning->setEnabled(true);
    EXPECT_EQ(defaults->writeCount(), writes);

    tuning->setEnabled(false); // nothing applied, still a restore
    tuning->setEnabled(false);
    EXPECT_EQ(defaults->writeCount(), writes + 1);
    EXPECT_EQ(defaults->boolValue(Tuning::enabledDefaultsKey), false);
    EXPECT_EQ(tuning->status().lastRestoreReason, Reason::switchedOff);
    EXPECT_FALSE(make()->isEnabled());
}

TEST_F(TuningTest, AReplugDropsTheVanishedServicesCaptureAndCapturesTheNewOne) {
    auto tuning = applied();
    fake->setServices({mouse(0x2000)});
    fake->seed(0x2000, {{res, 800 * 65536}, {accel, 0}});
    const auto writes = fake->writeLog().size();
    tuning->deviceBecameReady();
    const auto& log = fake->writeLog();
    for (auto i = writes; i < log.size(); ++i) EXPECT_EQ(log[i].registryID, 0x2000u); // nothing written back to the old one
    EXPECT_EQ(tuning->status().capture->service.registryID, 0x2000u);
    EXPECT_EQ(tuning->status().capture->resolution, 800 * 65536);
    EXPECT_EQ(tuning->persistedCapture(), tuning->status().capture);
}

TEST_F(TuningTest, NewMatchesPutTheOldTargetsOriginalsBackBeforeTuningTheNewOne) {
    fake->setServices({mouse(), mouse(0x2000, 0x046D, 0xC08B)});
    fake->seed(0x2000, {{res, 800 * 65536}, {accel, 0}});
    auto tuning = applied();
    tuning->setDeviceMatches({{0x046D, 0xC08B}});
    expectOriginalsBack();
    EXPECT_EQ(tuning->status().target, mouse(0x2000, 0x046D, 0xC08B));
    EXPECT_EQ(tuning->status().capture->resolution, 800 * 65536);
    EXPECT_EQ(value(res, 0x2000), 1600 * 65536);

    // When the old service refuses its originals, they stay held and the new target waits.
    fake->setKeysRefusedEverywhere({accel});
    const auto writes = fake->writeLog().size();
    tuning->setDeviceMatches({HIDPPDeviceMatch::g502X});
    EXPECT_EQ(fake->writeLog().size(), writes + 1); // only the resolution went back
    EXPECT_EQ(tuning->status().capture->service.registryID, 0x2000u);
    EXPECT_TRUE(tuning->status().restoreFailed);
    EXPECT_EQ(tuning->persistedCapture(), tuning->status().capture);
}

TEST_F(TuningTest, WithNoMouseTuningWaitsAndARestoreWithNothingCapturedLeavesTheTextAlone) {
    fake->setServices({});
    auto tuning = make();
    tuning->request({true, 1600});
    EXPECT_TRUE(tuning->status().isWaitingForDevice);
    EXPECT_EQ(tuning->status().lastError, std::nullopt) << "no mouse is no error";
    fake->setKeysRefusedEverywhere({accel});
    fake->setServices({mouse()});
    tuning->request({true, 1600});
    EXPECT_FALSE(tuning->status().isWaitingForDevice);
    const auto refused = tuning->status().lastError;
    ASSERT_TRUE(refused);
    tuning->restore(Reason::engineStopped);
    EXPECT_EQ(tuning->status().lastError, refused);
    EXPECT_EQ(tuning->status().lastRestoreReason, Reason::engineStopped);
}

// The user sets the mouse's acceleration in the desktop's own settings while
// the tuning is in force: whenever the tuner hears of it (the desktop tells,
// a later apply reads it, the stop reads it), that value stays and nothing of
// the tuner's is put back over it; only a reconnect, a new DPI or the user's
// switch sets it flat again, and then the capture holds the user's new value.
TEST_F(TuningTest, AValueSetOutsideWhileTuningIsInForceIsTheUsersAndStays) {
    constexpr std::int64_t users = 12345;
    const std::vector<std::pair<const char*, std::function<void(Tuning&)>>> noticed{
        {"the stop", [](Tuning& t) { t.request({false}); t.restore(Reason::engineStopped); }},
        {"the desktop tells", [](Tuning& t) { t.desktopSettingsChanged(); }},
        {"a later request", [](Tuning& t) { t.request({true, 1600}); }},
    };
    const std::vector<std::pair<const char*, std::function<void(Tuning&)>>> setAgain{
        {"a reconnect", [](Tuning& t) { t.deviceBecameReady(); }},
        {"a new DPI", [](Tuning& t) { t.deviceDPIReported(3200); }},
        {"the switch", [](Tuning& t) { t.setEnabled(false); t.setEnabled(true); }},
    };
    for (const auto& [how, notice] : noticed) {
        SCOPED_TRACE(how);
        fake->seed(mouseID, {{res, originalResolution}, {accel, originalAcceleration}});
        defaults->remove(Tuning::enabledDefaultsKey);
        auto tuning = applied();
        fake->seed(mouseID, {{accel, users}});
        const auto writes = fake->writeLog().size();
        notice(*tuning);
        for (auto i = writes; i < fake->writeLog().size(); ++i) EXPECT_NE(fake->writeLog()[i].key, accel);
        EXPECT_EQ(value(accel), users);
        EXPECT_FALSE(tuning->status().isApplied);
        EXPECT_FALSE(tuning->status().restoreFailed);
        EXPECT_FALSE(files->exists(captureFile)) << "nothing of Ravolet's left to put back";
        if (std::string_view(how) == "the stop") continue;
        EXPECT_TRUE(tuning->status().changedOutside);
        tuning->request({true, 1600}); // the engine asks again and again: it stays
        EXPECT_EQ(value(accel), users);
        tuning->restore(Reason::engineStopped);
        EXPECT_EQ(value(accel), users);
    }
    for (const auto& [how, again] : setAgain) {
        SCOPED_TRACE(how);
        fake->seed(mouseID, {{accel, originalAcceleration}});
        defaults->remove(Tuning::enabledDefaultsKey);
        auto tuning = applied();
        fake->seed(mouseID, {{accel, users}});
        tuning->desktopSettingsChanged();
        ASSERT_TRUE(tuning->status().changedOutside);
        again(*tuning);
        EXPECT_FALSE(tuning->status().changedOutside);
        EXPECT_EQ(value(accel), Tuning::disabledAcceleration);
        ASSERT_TRUE(tuning->status().capture);
        EXPECT_EQ(tuning->status().capture->acceleration, users);
        EXPECT_EQ(tuning->persistedCapture(), tuning->status().capture);
        tuning->restore(Reason::engineStopped);
        EXPECT_EQ(value(accel), users);
    }
}

TEST_F(TuningTest, ReadingsAndReadBackFollowTheTarget) {
    auto tuning = make();
    EXPECT_EQ(tuning->status().target, std::nullopt);
    tuning->refreshReading();
    EXPECT_EQ(tuning->status().target, mouse());
    EXPECT_EQ(tuning->status().currentReading->resolution, originalResolution);
    EXPECT_EQ(tuning->readBack(), (Tuning::ReadBack{originalResolution, originalAcceleration}));
    EXPECT_FALSE(tuning->persistedCapture()); // a reading is never saved
}

TEST_F(TuningTest, EachOperationPublishesItsStatusOnce) {
    auto tuning = make();
    std::vector<PointerTuningStatus> seen;
    auto connection = tuning->observeStatus([&](const PointerTuningStatus& s) { seen.push_back(s); });
    tuning->request({true, 1600});
    tuning->deviceDPIReported(1600); // no change, no notification
    tuning->setEnabled(false);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_TRUE(seen[0].isApplied);
    EXPECT_EQ(seen[1].lastRestoreReason, Reason::switchedOff);
    EXPECT_EQ(seen[1], tuning->status());
}

// Queued, the caller only hands work over: nothing reaches the desktop from
// its thread; a request waiting behind another takes in the next instead of
// queueing again; the user's switch reads as set at once; and an operation
// the desktop has not answered within the moment shows as waiting until it
// has, then the real result.
TEST_F(TuningTest, QueuedTheCallerOnlyHandsWorkOverAndTheStatusSaysWhileTheDesktopKeepsItWaiting) {
    leaveCaptureFile(strandedCapture());
    const auto work = std::make_shared<ManualScheduler>();
    const auto ui = std::make_shared<ManualScheduler>();
    const auto tuning = Tuning::queued({work, ui}, backend, defaults, std::nullopt, {HIDPPDeviceMatch::g502X}, clock, files);
    std::vector<PointerTuningStatus> seen;
    auto connection = tuning->observeStatus([&](const PointerTuningStatus& s) { seen.push_back(s); });
    tuning->request({true, 1600});
    tuning->request({true, std::nullopt});
    tuning->request({true, std::nullopt});
    EXPECT_TRUE(fake->writeLog().empty()) << "the earlier run's originals, too, go back on the queue";
    EXPECT_FALSE(tuning->status().isApplied);

    ui->advance(Tuning::waitingAfter - std::chrono::nanoseconds(1));
    EXPECT_FALSE(tuning->status().isWaitingForDesktop);
    ui->advance(std::chrono::nanoseconds(1));
    EXPECT_TRUE(tuning->status().isWaitingForDesktop);
    ASSERT_FALSE(seen.empty());
    EXPECT_TRUE(seen.back().isWaitingForDesktop);

    tuning->setEnabled(false);
    EXPECT_FALSE(tuning->status().isEnabled) << "the switch does not spring back while the desktop is quiet";
    EXPECT_EQ(defaults->boolValue(Tuning::enabledDefaultsKey), false);
    ui->runUntilIdle();
    EXPECT_FALSE(seen.back().isEnabled);

    work->runUntilIdle();
    ui->runUntilIdle();
    const PointerTuningStatus s = tuning->status();
    EXPECT_FALSE(s.isWaitingForDesktop);
    EXPECT_FALSE(s.isEnabled);
    EXPECT_TRUE(s.recoveredStrandedCapture);
    EXPECT_EQ(s.lastRestoreReason, Reason::switchedOff);
    EXPECT_EQ(seen.back(), s);
    expectOriginalsBack();
    EXPECT_EQ(std::ranges::count(fake->writeLog(), Tuning::disabledAcceleration, &FakePointerPropertyBackend::WriteRecord::value), 1)
        << "three requests, one apply";
}

// The desktop does not answer at all: the queue's work waits, the snapshot
// reads all the same, and a wait for the queue gives up at its limit (the
// originals stay on disk meanwhile); once the desktop answers, all of it runs.
// Off, on and off again while the desktop has not answered yet: the switch
// reads off throughout, also while the desktop is being written, and the
// desktop hears one change, the user's last.
TEST_F(TuningTest, QueuedTheSwitchFlippedWhileTheDesktopIsSlowEndsAsLastSetAndWritesOnce) {
    const auto work = std::make_shared<ManualScheduler>();
    const auto ui = std::make_shared<ManualScheduler>();
    const auto tuning = Tuning::queued({work, ui}, backend, defaults, std::nullopt, {HIDPPDeviceMatch::g502X}, clock, files);
    tuning->request({true, 1600});
    work->runUntilIdle();
    ASSERT_TRUE(tuning->status().isApplied);
    const auto writesBefore = fake->writeLog().size();
    std::vector<bool> shownAtWrite;
    backend->onWrite = [&] { shownAtWrite.push_back(tuning->status().isEnabled); };

    for (const bool enabled : {false, true, false}) {
        tuning->setEnabled(enabled);
        EXPECT_EQ(tuning->status().isEnabled, enabled);
    }
    work->runUntilIdle();
    ui->runUntilIdle();
    const auto s = tuning->status();
    EXPECT_FALSE(s.isEnabled);
    EXPECT_FALSE(s.isApplied);
    EXPECT_EQ(s.lastRestoreReason, Reason::switchedOff);
    expectOriginalsBack();
    EXPECT_EQ(defaults->boolValue(Tuning::enabledDefaultsKey), false);
    EXPECT_EQ(std::ranges::count(shownAtWrite, true), 0) << "the switch never springs back on";
    const std::vector<FakePointerPropertyBackend::WriteRecord> afterFlips(fake->writeLog().begin() + writesBefore,
                                                                          fake->writeLog().end());
    EXPECT_EQ(afterFlips, (std::vector<FakePointerPropertyBackend::WriteRecord>{{mouseID, res, originalResolution},
                                                                                {mouseID, accel, originalAcceleration}}));
}

TEST_F(TuningTest, QueuedAWaitForTheWorkEndsAtItsLimitWhenTheDesktopDoesNotAnswer) {
    const auto gated = std::make_shared<GatedBackend>(backend);
    const auto ui = std::make_shared<ManualScheduler>();
    const auto tuning = Tuning::queued({std::make_shared<SerialQueue>(Tuning::queueLabel, QueuePriority::utility), ui},
                                       gated, defaults, std::nullopt, {HIDPPDeviceMatch::g502X}, clock, files);
    tuning->request({true, 1600});
    tuning->restore(Reason::engineStopped);
    EXPECT_FALSE(tuning->waitUntilIdle(std::chrono::milliseconds(20)));
    EXPECT_FALSE(tuning->status().isApplied);
    gated->open();
    ASSERT_TRUE(tuning->waitUntilIdle(std::chrono::seconds(20)));
    EXPECT_EQ(tuning->status().lastRestoreReason, Reason::engineStopped);
    EXPECT_EQ(std::ranges::count(fake->writeLog(), Tuning::disabledAcceleration, &FakePointerPropertyBackend::WriteRecord::value), 1);
    expectOriginalsBack();
    EXPECT_FALSE(files->exists(captureFile));
}

// The session's desktop is found from its environment: here one without any,
// whatever the session this runs in (a terminal on the developer's desktop
// would otherwise reach its real settings).
TEST_F(TuningTest, WithNoDesktopInTheSessionTheLiveBackendFindsNothingToTune) {
    std::vector<std::pair<const char*, std::optional<std::string>>> saved;
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "SWAYSOCK", "XDG_CURRENT_DESKTOP"}) {
        const char* value = std::getenv(name);
        saved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
        ::unsetenv(name);
    }
    leaveCaptureFile(strandedCapture());
    Tuning tuning(std::make_shared<DesktopPointerPropertyBackend>(std::shared_ptr(DesktopPointerSettings::forThisSession())),
                  defaults, std::nullopt, {HIDPPDeviceMatch::g502X}, clock, files);
    for (const auto& [name, value] : saved) value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
    EXPECT_FALSE(tuning.status().isSupported);
    EXPECT_FALSE(tuning.status().isApplied); // the stranded service does not exist here
    tuning.request({true, 1600});
    EXPECT_FALSE(tuning.status().isApplied);
    EXPECT_EQ(tuning.captureURL(), "/home/user/.config/ravolet/pointer-hardware-capture.json");
}

// The guard of a run that was killed waits for the desktop to list the mouse
// again; a new run that starts meanwhile puts the originals back itself and
// sets its own flat value, with a capture of its own, which the guard leaves.
TEST_F(TuningTest, AGuardLeavesACaptureANewRunTookOver) {
    const platform::testing::FolderTree folder("guard");
    const auto file = folder.path / "pointer-hardware-capture.json";
    const auto disk = LinuxFileSystem::shared();
    const auto tuner = [&](std::shared_ptr<PointerPropertyBackend> reached) {
        return std::make_shared<Tuning>(std::move(reached), defaults, file, std::vector{HIDPPDeviceMatch::g502X}, clock,
                                        disk);
    };
    folder.write(file.filename(), *strandedCapture().encoded());
    fake->seed(mouseID, {{accel, Tuning::disabledAcceleration}});
    backend->unreadable = true;
    std::shared_ptr<Tuning> newRun;
    const int status = pointerTuningGuard::run(
        0x7fffffff, [this] { return std::shared_ptr<PointerPropertyBackend>(backend); },
        [&](std::shared_ptr<PointerPropertyBackend> reached) {
            auto guard = tuner(std::move(reached));
            EXPECT_TRUE(guard->status().restorePending);
            backend->unreadable = false;
            clock->advance(std::chrono::seconds(5));
            newRun = tuner(backend);
            newRun->request({true, 1600});
            return guard;
        },
        file, pointerTuningGuard::forAtMost(std::chrono::seconds(2)));
    ASSERT_TRUE(newRun);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(value(accel), Tuning::disabledAcceleration) << "the new run's tuning stays";
    EXPECT_TRUE(newRun->persistedCapture());
    newRun->restore(Reason::engineStopped);
    expectOriginalsBack();
}

// The guard has found the file still its own and is about to put the
// originals back when a new run starts: the run waits for that put-back,
// then captures afresh and sets its own flat value, which the guard leaves
// to it.
TEST_F(TuningTest, ANewRunStartingBetweenTheGuardsLookAndItsPutBackKeepsItsTuning) {
    const platform::testing::FolderTree folder("guard-race");
    const auto file = folder.path / "pointer-hardware-capture.json";
    const auto disk = LinuxFileSystem::shared();
    folder.write(file.filename(), *strandedCapture().encoded());
    fake->seed(mouseID, {{accel, Tuning::disabledAcceleration}});
    backend->unreadable = true;
    const auto ui = std::make_shared<ManualScheduler>();
    std::shared_ptr<Tuning> newRun;
    const int status = pointerTuningGuard::run(
        0x7fffffff, [this] { return std::shared_ptr<PointerPropertyBackend>(backend); },
        [&](std::shared_ptr<PointerPropertyBackend> reached) {
            auto guard = std::make_shared<Tuning>(std::move(reached), defaults, file,
                                                  std::vector{HIDPPDeviceMatch::g502X}, clock, disk);
            EXPECT_TRUE(guard->status().restorePending);
            backend->unreadable = false;
            // Starts as the guard's next put-back begins, and runs as far as it may.
            backend->onNextOperation = [&] {
                newRun = Tuning::queued({std::make_shared<SerialQueue>(Tuning::queueLabel, QueuePriority::utility), ui},
                                        backend, defaults, file, {HIDPPDeviceMatch::g502X}, clock, disk);
                newRun->request({true, 1600});
                (void)newRun->waitUntilIdle(std::chrono::milliseconds(500));
            };
            return guard;
        },
        file, pointerTuningGuard::forAtMost(std::chrono::seconds(2)));
    ASSERT_TRUE(newRun);
    ASSERT_TRUE(newRun->waitUntilIdle(std::chrono::seconds(20)));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(value(accel), Tuning::disabledAcceleration) << "the new run's tuning stays";
    EXPECT_TRUE(newRun->status().isApplied);
    ASSERT_TRUE(newRun->persistedCapture()) << "and so does its capture";
    EXPECT_EQ(newRun->persistedCapture()->acceleration, originalAcceleration);
    newRun->restore(Reason::engineStopped);
    ASSERT_TRUE(newRun->waitUntilIdle(std::chrono::seconds(20)));
    expectOriginalsBack();
}
