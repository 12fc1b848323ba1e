#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "Platform/KeyValueStore.hpp"
#include "Support/Observable.hpp"

namespace ravolet {

// One user preference: its value in memory, read from the store once, and
// written through to the store on every assignment. Observers hear only real
// changes.
template <class T>
class Preference {
public:
    using Writer = std::function<void(platform::KeyValueStore&, const T&)>;

    Preference(std::shared_ptr<platform::KeyValueStore> store, T initial, Writer writer)
        : store_(std::move(store)), writer_(std::move(writer)), value_(std::move(initial)) {}

    const T& value() const { return value_.value(); }
    // Writes the value to the store, even when it is the one held, then
    // notifies the observers when it differs.
    void set(T newValue) {
        writer_(*store_, newValue);
        if (afterWrite_) afterWrite_();
        value_.set(std::move(newValue));
    }
    // Called after every write to the store, before observers hear of a change.
    void setAfterWrite(std::function<void()> afterWrite) { afterWrite_ = std::move(afterWrite); }
    ObserverConnection observe(std::function<void(const T&)> observer) const { return value_.observe(std::move(observer)); }

private:
    const std::shared_ptr<platform::KeyValueStore> store_;
    const Writer writer_;
    std::function<void()> afterWrite_;
    Observable<T> value_;
};

// The handful of preferences the application keeps outside the settings
// document, over the user's preferences store. Each is read once, at
// construction; a change made to the store by other means is seen at the next
// launch. Main thread only.
class AppPreferences {
public:
    struct Keys {
        static constexpr std::string_view onboardingCompleted = "onboarding.completed";
        static constexpr std::string_view pausedByUser = "engine.pausedByUser";
        static constexpr std::string_view manageSettings = "device.manageSettings";
        static constexpr std::string_view reportRateHertz = "device.reportRateHertz";
        static constexpr std::string_view highResolutionWheel = "device.highResolutionWheel";
        static constexpr std::string_view leavesWheelUnchanged = "device.leavesWheelUnchanged";
        static constexpr std::string_view automaticChecks = "updates.automaticChecks";
        static constexpr std::string_view keepsRunningNoteShown = "window.keepsRunningNoteShown";
        static constexpr std::string_view unsavedChangesFile = "settings.unsavedChangesFile";
    };

    // Reads every key, in the order of the members below; writes nothing.
    explicit AppPreferences(std::shared_ptr<platform::KeyValueStore> defaults);
    AppPreferences(const AppPreferences&) = delete;
    AppPreferences& operator=(const AppPreferences&) = delete;

    // Over the process's one preferences store, the one pointer tuning uses too.
    static std::shared_ptr<AppPreferences> standard();

    const std::shared_ptr<platform::KeyValueStore> defaults;

    // The first-run set-up was finished. The store's Boolean reading.
    Preference<bool> hasCompletedOnboarding;
    // The user paused Ravolet. The store's Boolean reading.
    Preference<bool> isPausedByUser;
    // Ravolet writes the mouse's own settings. A stored Boolean, else true.
    Preference<bool> managesDeviceSettings;
    // The report rate to set, in hertz; none leaves the mouse's own. A stored
    // integer, else none; none is written by removing the key.
    Preference<std::optional<std::int64_t>> reportRateHertz;
    // High-resolution wheel (true), standard (false), or leave the mouse's
    // wheel mode alone (none). Two keys: the mode when a Boolean is stored
    // under it, else none when "device.leavesWheelUnchanged" reads true, else
    // false.
    Preference<std::optional<bool>> highResolutionWheel;
    // The updater looks for updates by itself. A stored Boolean, else true.
    Preference<bool> automaticUpdateChecks;
    // The user was told, when first closing the settings window on a desktop
    // with no tray, that Ravolet keeps working. The store's Boolean reading.
    Preference<bool> keepsRunningNoteShown;
    // Where the settings that could not be saved when Ravolet was last ended
    // were written instead, until the user has taken note. A stored text,
    // else none; none is written by removing the key.
    Preference<std::optional<std::string>> unsavedChangesFile;

    // Why the preferences could not be written last time, in the system's
    // words; none once a write succeeds. Follows every write made through
    // these preferences; refreshStorage() catches up with writes others made
    // to the same store.
    const Observable<std::optional<std::string>>& saveError() const { return saveError_; }
    // Where an unreadable preferences file was set aside when the program
    // started, until the user has taken note (dismissSetAside()).
    const Observable<std::optional<std::filesystem::path>>& setAsideAt() const { return setAsideAt_; }
    void dismissSetAside() { setAsideAt_.set(std::nullopt); }
    // Writes the preferences again when the last write failed.
    void retrySave();
    void refreshStorage();

private:
    Observable<std::optional<std::string>> saveError_;
    Observable<std::optional<std::filesystem::path>> setAsideAt_;
};

} // namespace ravolet
