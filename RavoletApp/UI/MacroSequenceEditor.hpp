#pragma once

#include <QWidget>

#include <cstddef>
#include <vector>

#include "Core/MacroStep.hpp"

class QComboBox;
class QFrame;
class QLabel;
class QPushButton;
class QSpinBox;
class QToolButton;
class QVBoxLayout;

namespace ravolet {

class Explain;
class KeyRecorder;
class ResetButton;
class ValueSlider;

// One numbered step of a sequence: its move and delete buttons, the "Does"
// picker and the control of the step's kind. Rows are identified by their
// position, so a row keeps its number (and its recorder's state) while the
// steps move through it.
class MacroStepRow : public QWidget {
    Q_OBJECT
public:
    explicit MacroStepRow(std::ptrdiff_t index, QWidget* parent = nullptr);

    // Fills the row with the step at its position in a list of count steps;
    // emits nothing.
    void setStep(const MacroStep& step, std::size_t count);
    std::ptrdiff_t index() const { return index_; }
    // Which row of a page the sequence is in ("binding 2"), which the step's
    // lists' labels say to a reader with the step's number; none by default.
    void setReaderRow(const QString& row);

    QLabel* titleLabel() const { return title_; }
    QToolButton* moveUpButton() const { return up_; }
    QToolButton* moveDownButton() const { return down_; }
    QToolButton* deleteButton() const { return delete_; }
    QComboBox* kindPicker() const { return picker_; }
    KeyRecorder* keyRecorder() const { return recorder_; }
    ValueSlider* pauseSlider() const { return pauseSlider_; }
    QSpinBox* mouseButtonStepper() const { return mouseButton_; }
    Explain* keyDownReminder() const { return reminder_; }

Q_SIGNALS:
    void stepEdited(std::ptrdiff_t index, const ravolet::MacroStep& step);
    void deleteRequested(std::ptrdiff_t index);
    void moveRequested(std::ptrdiff_t index, int offset);

private:
    void rebuildControl();
    void edit(const MacroStep& step);
    void nameForReaders();

    std::ptrdiff_t index_;
    MacroStep step_;
    bool hasStep_ = false;
    QLabel* title_;
    QToolButton* up_;
    QToolButton* down_;
    QToolButton* delete_;
    QString readerRow_;
    QLabel* pickerLabel_;
    QComboBox* picker_;
    QVBoxLayout* controlHolder_;
    QWidget* control_ = nullptr;
    KeyRecorder* recorder_ = nullptr;
    ValueSlider* pauseSlider_ = nullptr;
    QSpinBox* mouseButton_ = nullptr;
    Explain* reminder_;
};

// Edits the steps of a sequence: one row per step, numbered from 1, then the
// buttons that append a key press or a pause. The program fills it with
// setSteps(), which never reports back; every user edit emits stepsEdited
// with the whole new list, for the caller to write back at once.
class MacroSequenceEditor : public QWidget {
    Q_OBJECT
public:
    explicit MacroSequenceEditor(QWidget* parent = nullptr);

    void setSteps(const std::vector<MacroStep>& steps);
    const std::vector<MacroStep>& steps() const { return steps_; }
    // Which row of a page the sequence is in ("binding 2"); see MacroStepRow.
    void setReaderRow(const QString& row);

    ResetButton* resetButton() const { return reset_; }
    Explain* emptyNotice() const { return emptyNotice_; }
    // The rows on show, in order.
    std::vector<MacroStepRow*> rows() const;
    QPushButton* addKeyPressButton() const { return addKey_; }
    QPushButton* addPauseButton() const { return addPause_; }

Q_SIGNALS:
    void stepsEdited(const std::vector<ravolet::MacroStep>& steps);

private:
    void edit(const std::vector<MacroStep>& steps);

    struct RowEntry {
        MacroStepRow* row;
        QFrame* divider;
    };

    std::vector<MacroStep> steps_;
    QString readerRow_;
    ResetButton* reset_;
    Explain* emptyNotice_;
    QVBoxLayout* rowsLayout_;
    std::vector<RowEntry> rows_;
    QPushButton* addKey_;
    QPushButton* addPause_;
};

} // namespace ravolet
