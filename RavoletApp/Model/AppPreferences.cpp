#include "RavoletApp/Model/AppPreferences.hpp"

#include "Platform/Linux/JsonFileKeyValueStore.hpp"

namespace ravolet {

namespace {

using platform::KeyValueStore;

Preference<bool>::Writer booleanUnder(std::string_view key) {
    return [key](KeyValueStore& store, const bool& value) { store.set(key, value); };
}

// A value under the key; none removes it.
template <class T>
typename Preference<std::optional<T>>::Writer optionalUnder(std::string_view key) {
    return [key](KeyValueStore& store, const std::optional<T>& value) {
        if (value) {
            store.set(key, *value);
        } else {
            store.remove(key);
        }
    };
}

std::optional<bool> wheelReading(const KeyValueStore& store) {
    if (const auto mode = store.boolValue(AppPreferences::Keys::highResolutionWheel)) return mode;
    if (store.boolean(AppPreferences::Keys::leavesWheelUnchanged)) return std::nullopt;
    return false;
}

} // namespace

AppPreferences::AppPreferences(std::shared_ptr<platform::KeyValueStore> store)
    : defaults(std::move(store)),
      hasCompletedOnboarding(defaults, defaults->boolean(Keys::onboardingCompleted), booleanUnder(Keys::onboardingCompleted)),
      isPausedByUser(defaults, defaults->boolean(Keys::pausedByUser), booleanUnder(Keys::pausedByUser)),
      managesDeviceSettings(defaults, defaults->boolValue(Keys::manageSettings).value_or(true),
                            booleanUnder(Keys::manageSettings)),
      reportRateHertz(defaults, defaults->integerValue(Keys::reportRateHertz),
                      optionalUnder<std::int64_t>(Keys::reportRateHertz)),
      highResolutionWheel(defaults, wheelReading(*defaults),
                          [](KeyValueStore& store, const std::optional<bool>& mode) {
                              store.set(Keys::leavesWheelUnchanged, !mode.has_value());
                              if (mode) {
                                  store.set(Keys::highResolutionWheel, *mode);
                              } else {
                                  store.remove(Keys::highResolutionWheel);
                              }
                          }),
      automaticUpdateChecks(defaults, defaults->boolValue(Keys::automaticChecks).value_or(true),
                            booleanUnder(Keys::automaticChecks)),
      keepsRunningNoteShown(defaults, defaults->boolean(Keys::keepsRunningNoteShown),
                            booleanUnder(Keys::keepsRunningNoteShown)),
      unsavedChangesFile(defaults, defaults->stringValue(Keys::unsavedChangesFile),
                         optionalUnder<std::string>(Keys::unsavedChangesFile)),
      setAsideAt_(defaults->keptAsideAt()) {
    refreshStorage();
    // Each write through a preference tells at once whether it reached the disk.
    for (auto* preference :
         {&hasCompletedOnboarding, &isPausedByUser, &managesDeviceSettings, &automaticUpdateChecks, &keepsRunningNoteShown})
        preference->setAfterWrite([this] { refreshStorage(); });
    reportRateHertz.setAfterWrite([this] { refreshStorage(); });
    unsavedChangesFile.setAfterWrite([this] { refreshStorage(); });
    highResolutionWheel.setAfterWrite([this] { refreshStorage(); });
}

void AppPreferences::retrySave() {
    defaults->retryWrite();
    refreshStorage();
}

void AppPreferences::refreshStorage() {
    const auto error = defaults->lastError();
    saveError_.set(error ? std::optional(error->description()) : std::nullopt);
}

std::shared_ptr<AppPreferences> AppPreferences::standard() {
    return std::make_shared<AppPreferences>(platform::JsonFileKeyValueStore::standard());
}

} // namespace ravolet
