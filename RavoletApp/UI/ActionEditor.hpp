#pragma once

#include <QWidget>

#include <memory>

#include "Core/Action.hpp"
#include "RavoletApp/Model/AppModel.hpp"

class QComboBox;
class QLabel;
class QLineEdit;
class QVBoxLayout;

namespace ravolet {

class AppIconView;
class AppPickerButton;
class Explain;
class KeyRecorder;
class MacroSequenceEditor;
class ResetButton;
class StatusDot;
class ValueSlider;

// Edits the one action of a button binding: a picker of the eight kinds, the
// chosen kind's explanation, and below them the editor of the action's case
// (the key recorder, the repeat interval, the sequence, the DPI while held,
// the application, or the Shortcut's name).
//
// The program fills it with setAction(), which never reports back; every user
// edit emits actionEdited with the whole new action, for the caller to write
// back at once. The explanation and the editor follow the action that was
// last set, not the picker: the case editor is rebuilt when the case changes
// and refilled in place otherwise, so a control being dragged survives the
// refill that its own write causes.
class ActionEditor : public QWidget {
    Q_OBJECT
public:
    explicit ActionEditor(std::shared_ptr<AppModel> model, QWidget* parent = nullptr);

    // Fills the controls; emits nothing. defaultAction is what the "Button
    // action" reset restores.
    void setAction(const Action& action, const Action& defaultAction);
    const Action& action() const { return action_; }
    // Which row of a page the editor is in ("binding 2"), which its lists'
    // labels say to a reader; none by default.
    void setReaderRow(const QString& row);

    QComboBox* kindPicker() const { return picker_; }
    ResetButton* kindResetButton() const { return pickerReset_; }
    Explain* explanationLabel() const { return explanation_; }
    // The editor of the current case, null for pass-through; the parts below
    // are null unless the case shows them.
    QWidget* caseEditor() const { return caseEditor_; }
    KeyRecorder* keyRecorder() const { return recorder_; }
    ValueSlider* repeatSlider() const { return repeatSlider_; }
    MacroSequenceEditor* sequenceEditor() const { return sequenceEditor_; }
    ValueSlider* dpiSlider() const { return dpiSlider_; }
    Explain* dpiNoteLabel() const { return dpiNote_; }
    QLabel* appNameLabel() const { return appName_; }
    AppPickerButton* appPicker() const { return appPicker_; }
    QLineEdit* bundleIDField() const { return bundleIDField_; }
    QLineEdit* shortcutNameField() const { return shortcutField_; }
    // What the command line typed would do, under its field.
    StatusDot* commandCheckLine() const { return commandCheck_; }

Q_SIGNALS:
    void actionEdited(const ravolet::Action& action);

private:
    void edit(const Action& action);
    void rebuildCaseEditor();
    void refillCaseEditor();
    void nameRowForReaders();
    QWidget* makeKeyEditor(bool withInterval);
    QWidget* makeDPIShiftEditor();
    QWidget* makeLaunchAppEditor();
    QWidget* makeShortcutEditor();
    void refreshDPINote();
    void refreshApplication();
    void refreshCommandCheck();

    std::shared_ptr<AppModel> model_;
    Action action_;
    Action defaultAction_;
    bool hasAction_ = false;

    QString readerRow_;
    QLabel* pickerLabel_;
    QComboBox* picker_;
    ResetButton* pickerReset_;
    Explain* explanation_;
    QVBoxLayout* caseHolder_;
    QWidget* caseEditor_ = nullptr;
    KeyRecorder* recorder_ = nullptr;
    ValueSlider* repeatSlider_ = nullptr;
    MacroSequenceEditor* sequenceEditor_ = nullptr;
    ValueSlider* dpiSlider_ = nullptr;
    Explain* dpiNote_ = nullptr;
    AppIconView* appIcon_ = nullptr;
    QLabel* appName_ = nullptr;
    AppPickerButton* appPicker_ = nullptr;
    QLineEdit* bundleIDField_ = nullptr;
    QLineEdit* shortcutField_ = nullptr;
    StatusDot* commandCheck_ = nullptr;
};

} // namespace ravolet
