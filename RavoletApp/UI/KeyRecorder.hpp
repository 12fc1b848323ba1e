#pragma once

#include "Core/ModifierFlags.hpp"
#include "RavoletApp/ViewModels/KeyRecorderModel.hpp"

#include <QString>
#include <QWidget>

#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace ravolet {

class Explain;
class ResetButton;

// The control that sets the one key (and its modifiers) a key action or step
// sends: record a real key press, choose a key from the catalogue, or tick
// modifiers.
//
// The program fills it with setKey(), which never reports back; only the
// user's edits emit keyEdited. While it records, it takes every key of the
// application, shortcut overrides included, so that neither another widget
// nor a shortcut sees the press; the first key ends the recording. Hiding the
// control ends it too, and starting a recording ends any other one in progress.
class KeyRecorder : public QWidget {
    Q_OBJECT
public:
    explicit KeyRecorder(const QString& label, QWidget* parent = nullptr);
    ~KeyRecorder() override;

    RecordedKey key() const { return model_.key(); }
    // Fills the controls from the program; emits nothing.
    void setKey(RecordedKey key);
    // Which row of a page the control is in ("step 2 of binding 1"), which
    // its list's label says to a reader; none by default.
    void setReaderRow(const QString& row);

    const KeyRecorderModel& model() const { return model_; }
    bool isRecording() const { return model_.isRecording(); }
    // What the record button does: starts a recording or ends the one in progress.
    void toggleRecording();

    QPushButton* recordButton() const { return record_; }
    ResetButton* recordResetButton() const { return recordReset_; }
    Explain* explanationLabel() const { return explanation_; }
    // The key picker, the modifier grid and their explanation, hidden while recording.
    QWidget* choices() const { return choices_; }
    QComboBox* keyPicker() const { return picker_; }
    ResetButton* keyResetButton() const { return pickerReset_; }
    // The checkbox and reset button of one of ModifierFlags::editable; null for other flags.
    QCheckBox* modifierCheckBox(ModifierFlags flag) const;
    ResetButton* modifierResetButton(ModifierFlags flag) const;
    // Why Fn is not sent; shown while the key has Fn.
    Explain* fnNote() const { return fnNote_; }

Q_SIGNALS:
    // A key and modifiers the user chose; write them to the setting.
    void keyEdited(ravolet::RecordedKey key);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    struct ModifierControls {
        ModifierFlags flag;
        QCheckBox* box;
        ResetButton* reset;
    };

    // Brings the widgets and the application-wide key filter in line with
    // the model after an operation, and reports a write.
    void refresh(bool written);
    // What a reader hears for a modifier's checkbox and for the record button.
    QString modifierName(ModifierFlags flag) const;
    QString recordName() const;
    void startRecording();
    bool handleKey(QEvent* event);

    KeyRecorderModel model_;
    QString readerRow_;
    QLabel* label_;
    QPushButton* record_;
    ResetButton* recordReset_;
    Explain* explanation_;
    QWidget* choices_;
    Explain* fnNote_ = nullptr;
    QLabel* pickerLabel_;
    QComboBox* picker_;
    ResetButton* pickerReset_;
    std::vector<ModifierControls> modifiers_;
    bool filtering_ = false;
};

} // namespace ravolet
