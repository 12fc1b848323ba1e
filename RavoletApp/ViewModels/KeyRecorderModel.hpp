#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "Core/ModifierFlags.hpp"

namespace ravolet {

// A key to send: the host's virtual key code and the modifiers held with it.
struct RecordedKey {
    std::uint16_t code = 0;
    ModifierFlags modifiers;

    friend bool operator==(const RecordedKey&, const RecordedKey&) = default;
};

// What the key recorder does, without its widgets: the key it edits, whether a
// recording is in progress and the modifiers held during it, and the texts it
// shows. The key belongs to the caller, who fills it with setKey() and reads
// each change from key() after an operation reports a write.
//
// Idle, the recorder shows the whole control; recording (from start() until
// a key is pressed, Escape cancels, stop() or the record row's reset), only
// the record row and its explanation. Main thread only.
class KeyRecorderModel {
public:
    static constexpr std::uint16_t escapeKeyCode = 53;

    static constexpr std::string_view recordingExplanation =
        "Press the keys now. Hold Super, Alt, Ctrl or Shift together with the key if you want a chord. Press Escape "
        "on its own to cancel.";
    static constexpr std::string_view idleExplanation =
        "Click, then press the keys you want this mouse button to send. Ravolet stores the physical key, so it "
        "still works if you switch keyboard layouts.";
    static constexpr std::string_view modifiersExplanation =
        "The key is sent with these modifiers held down, exactly as if you had pressed them yourself.";
    // Beside the Fn modifier, and under the modifiers while the key has it.
    static constexpr std::string_view fnNote =
        "Ravolet cannot hold Fn down: on most keyboards Fn never reaches Linux, so programs do not read it and the "
        "key is sent without it.";
    static constexpr std::string_view keyPickerLabel = "Or choose a key";
    static constexpr std::string_view keyPickerResetTitle = "Key";

    explicit KeyRecorderModel(std::string label, RecordedKey key = {});

    // The row label, also the title of the record row's reset.
    const std::string& label() const { return label_; }

    RecordedKey key() const { return key_; }
    // The caller's value, as it now is; never reported back as a write.
    void setKey(RecordedKey key) { key_ = key; }

    bool isRecording() const { return recording_; }
    // The modifiers held now, while recording; empty otherwise.
    ModifierFlags liveModifiers() const { return liveModifiers_; }

    // The record button: starts a recording, or stops the one in progress.
    void toggleRecording();
    void start();
    // Ends a recording without writing anything; nothing happens when idle.
    void stop();

    // A key went down while recording (the event's modifiers as they are).
    // Escape without a modifier cancels; any other key, Escape with a
    // modifier included, is written with caps lock dropped. Either way the
    // recording ends. Returns whether the key was written; ignored when idle.
    bool keyDown(std::uint16_t code, ModifierFlags modifiers);
    // The held modifiers changed while recording; caps lock counts here.
    void modifiersChanged(ModifierFlags modifiers);

    // The key picker: a key of the catalogue, modifiers kept.
    bool chooseKey(std::uint16_t code);
    // A modifier checkbox: whether every bit of the flag is set, and setting it.
    bool hasModifier(ModifierFlags flag) const { return key_.modifiers.contains(flag); }
    bool setModifier(ModifierFlags flag, bool on);

    // The resets: the record row's stops recording and clears key and
    // modifiers; the picker's clears the key only; a modifier's removes it.
    bool resetRecordRow();
    bool resetKey() { return chooseKey(0); }
    bool resetModifier(ModifierFlags flag) { return setModifier(flag, false); }

    // The record button's title: the chord ("⇧⌘K") when idle, "Press keys…"
    // while recording with nothing held, else the held modifiers and "…".
    std::string buttonTitle() const;
    // What assistive technology reads for the record button.
    std::string accessibleName() const;
    std::string_view explanation() const { return recording_ ? recordingExplanation : idleExplanation; }
    // The key picker, the modifier grid and their explanation show only when idle.
    bool showsChoices() const { return !recording_; }

private:
    bool write(RecordedKey key);

    std::string label_;
    RecordedKey key_;
    bool recording_ = false;
    ModifierFlags liveModifiers_;
};

} // namespace ravolet
