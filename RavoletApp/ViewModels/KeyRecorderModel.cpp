#include "RavoletApp/ViewModels/KeyRecorderModel.hpp"

#include "RavoletApp/ViewModels/KeyCatalog.hpp"

namespace ravolet {

KeyRecorderModel::KeyRecorderModel(std::string label, RecordedKey key) : label_(std::move(label)), key_(key) {}

void KeyRecorderModel::toggleRecording() {
    if (recording_) {
        stop();
    } else {
        start();
    }
}

void KeyRecorderModel::start() {
    recording_ = true;
    liveModifiers_ = ModifierFlags::none;
}

void KeyRecorderModel::stop() {
    recording_ = false;
    liveModifiers_ = ModifierFlags::none;
}

bool KeyRecorderModel::keyDown(std::uint16_t code, ModifierFlags modifiers) {
    if (!recording_) return false;
    const ModifierFlags held = modifiers.normalized();
    const bool cancels = code == escapeKeyCode && held.isEmpty();
    const bool written = !cancels && write({code, held});
    stop();
    return written;
}

void KeyRecorderModel::modifiersChanged(ModifierFlags modifiers) {
    if (recording_) liveModifiers_ = modifiers;
}

bool KeyRecorderModel::chooseKey(std::uint16_t code) { return write({code, key_.modifiers}); }

bool KeyRecorderModel::setModifier(ModifierFlags flag, bool on) {
    RecordedKey changed = key_;
    if (on) {
        changed.modifiers.insert(flag);
    } else {
        changed.modifiers.remove(flag);
    }
    return write(changed);
}

bool KeyRecorderModel::resetRecordRow() {
    stop();
    return write({});
}

std::string KeyRecorderModel::buttonTitle() const {
    if (!recording_) return KeyCatalog::chord(key_.modifiers, key_.code);
    const std::string held = KeyCatalog::held(liveModifiers_);
    if (held.empty()) return "Press keys…";
    return held + " + …";
}

std::string KeyRecorderModel::accessibleName() const {
    if (recording_) return "Recording a shortcut. Press the keys you want.";
    return "Recorded shortcut " + KeyCatalog::chord(key_.modifiers, key_.code) +
           ". Click to record a new one.";
}

bool KeyRecorderModel::write(RecordedKey key) {
    if (key == key_) return false;
    key_ = key;
    return true;
}

} // namespace ravolet
