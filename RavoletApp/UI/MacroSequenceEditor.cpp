#include "RavoletApp/UI/MacroSequenceEditor.hpp"

#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>

#include "RavoletApp/UI/AccessibleName.hpp"
#include "RavoletApp/UI/Explain.hpp"
#include "RavoletApp/UI/KeyRecorder.hpp"
#include "RavoletApp/UI/QtText.hpp"
#include "RavoletApp/UI/ResetButton.hpp"
#include "RavoletApp/UI/Style.hpp"
#include "RavoletApp/UI/SymbolIcon.hpp"
#include "RavoletApp/UI/ValueSlider.hpp"
#include "RavoletApp/ViewModels/ActionEditing.hpp"
#include "RavoletApp/ViewModels/MacroSequenceEditing.hpp"

namespace ravolet {

namespace MS = MacroSequenceEditing;

namespace {

QToolButton* iconButton(const QString& symbol) {
    auto* button = new QToolButton;
    button->setIcon(symbolIcon(symbol));
    button->setAutoRaise(true);
    button->setIconSize(fontScaled(QSize(14, 14), button->font()));
    return button;
}

} // namespace

MacroStepRow::MacroStepRow(std::ptrdiff_t index, QWidget* parent)
    : QWidget(parent), index_(index), title_(new QLabel), up_(iconButton(QStringLiteral("arrow.up"))),
      down_(iconButton(QStringLiteral("arrow.down"))), delete_(iconButton(QStringLiteral("trash"))),
      pickerLabel_(new QLabel(qtText(MS::kindPickerTitle))), picker_(new QComboBox), reminder_(new Explain(qtText(MS::keyDownReminder))) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 4, 0, 4);
    layout->setSpacing(6);

    const QString position = QString::number(index_ + 1);
    title_->setText(QStringLiteral("Step ") + position);
    applyTextStyle(title_, TextStyle::callout);
    applyTextColor(title_, SystemColor::secondary);
    up_->setToolTip(QStringLiteral("Move step %1 earlier").arg(position));
    down_->setToolTip(QStringLiteral("Move step %1 later").arg(position));
    delete_->setToolTip(QStringLiteral("Delete step %1").arg(position));
    auto* header = new QHBoxLayout;
    header->setSpacing(2);
    header->addWidget(title_);
    header->addStretch(1);
    header->addWidget(up_);
    header->addWidget(down_);
    header->addWidget(delete_);
    layout->addLayout(header);
    connect(up_, &QToolButton::clicked, this, [this] { Q_EMIT moveRequested(index_, -1); });
    connect(down_, &QToolButton::clicked, this, [this] { Q_EMIT moveRequested(index_, 1); });
    connect(delete_, &QToolButton::clicked, this, [this] { Q_EMIT deleteRequested(index_); });

    for (MacroStepKind kind : allMacroStepKinds) picker_->addItem(qtText(MS::title(kind)), qtText(toString(kind)));
    picker_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    // activated, also for the kind the step already has: choosing it rebuilds the step.
    connect(picker_, &QComboBox::activated, this, [this](int index) {
        if (index >= 0 && index < static_cast<int>(allMacroStepKinds.size()))
            edit(MS::withKind(step_, allMacroStepKinds[static_cast<std::size_t>(index)]));
    });
    auto* pickerHolder = new QWidget;
    auto* pickerRow = new QHBoxLayout(pickerHolder);
    pickerRow->setContentsMargins(0, 0, 0, 0);
    pickerRow->setSpacing(8);
    pickerRow->addWidget(pickerLabel_);
    pickerRow->addWidget(picker_);
    pickerRow->addStretch(1);
    layout->addWidget(resettable(pickerHolder, qtText(MS::kindResetTitle), [this] { edit(MS::keyPress()); }));

    controlHolder_ = new QVBoxLayout;
    controlHolder_->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(controlHolder_);
    layout->addWidget(reminder_);
    nameForReaders();
}

void MacroStepRow::setReaderRow(const QString& row) {
    if (row == readerRow_) return;
    readerRow_ = row;
    nameForReaders();
}

void MacroStepRow::nameForReaders() {
    // The step, within the row the sequence is in: "step 2 of binding 1".
    QString step = QStringLiteral("step %1").arg(index_ + 1);
    if (!readerRow_.isEmpty()) step += QStringLiteral(" of ") + readerRow_;
    labelForReaders(pickerLabel_, picker_, inRow(qtText(MS::kindPickerTitle), step));
    renameForReaders(up_, QStringLiteral("Move %1 earlier").arg(step));
    renameForReaders(down_, QStringLiteral("Move %1 later").arg(step));
    renameForReaders(delete_, QStringLiteral("Delete ") + step);
    if (recorder_) recorder_->setReaderRow(step);
    if (mouseButton_) renameForReaders(mouseButton_, inRow(qtText(MS::mouseButtonLabel), step));
}

void MacroStepRow::setStep(const MacroStep& step, std::size_t count) {
    const bool kindChanged = !hasStep_ || MS::kind(step) != MS::kind(step_);
    step_ = step;
    hasStep_ = true;
    up_->setEnabled(MS::canMoveEarlier(index_, count));
    down_->setEnabled(MS::canMoveLater(index_, count));
    const MacroStepKind kind = MS::kind(step_);
    {
        const QSignalBlocker blocker(picker_);
        picker_->setCurrentIndex(static_cast<int>(kind));
    }
    reminder_->setVisible(kind == MacroStepKind::keyDown);
    if (kindChanged) rebuildControl();

    if (recorder_) recorder_->setKey(MS::key(step_));
    if (const auto* delay = std::get_if<MacroStep::Delay>(&step_.value); delay && pauseSlider_)
        pauseSlider_->setValue(delay->millis);
    if (const auto* click = std::get_if<MacroStep::MouseButton>(&step_.value); click && mouseButton_) {
        const QSignalBlocker blocker(mouseButton_);
        mouseButton_->setValue(static_cast<int>(std::clamp<std::int64_t>(click->number, MS::lowestMouseButton,
                                                                          MS::highestMouseButton)));
    }
}

void MacroStepRow::edit(const MacroStep& step) { Q_EMIT stepEdited(index_, step); }

void MacroStepRow::rebuildControl() {
    if (control_) {
        control_->hide();
        control_->deleteLater();
    }
    control_ = nullptr;
    recorder_ = nullptr;
    pauseSlider_ = nullptr;
    mouseButton_ = nullptr;

    switch (MS::kind(step_)) {
    case MacroStepKind::key:
    case MacroStepKind::keyDown:
    case MacroStepKind::keyUp:
        control_ = recorder_ = new KeyRecorder(qtText(ActionEditing::keyLabel));
        connect(recorder_, &KeyRecorder::keyEdited, this, [this](RecordedKey key) { edit(MS::withKey(step_, key)); });
        break;
    case MacroStepKind::delay:
        control_ = pauseSlider_ = new ValueSlider({.title = qtText(MS::pauseTitle),
                                                   .help = qtText(MS::pauseHelp),
                                                   .range = {0, 2000},
                                                   .step = 10,
                                                   .defaultValue = MS::newPauseMillis,
                                                   .precisionStep = 1,
                                                   .format = [](double ms) {
                                                       return qtText(ActionEditing::millisecondsText(ms));
                                                   }});
        connect(pauseSlider_, &ValueSlider::valueEdited, this, [this](double ms) { edit(MacroStep::delay(ms)); });
        break;
    case MacroStepKind::mouseButton: {
        control_ = new QWidget;
        auto* row = new QHBoxLayout(control_);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(8);
        row->addWidget(new QLabel(qtText(MS::mouseButtonLabel)));
        mouseButton_ = new QSpinBox;
        mouseButton_->setRange(static_cast<int>(MS::lowestMouseButton), static_cast<int>(MS::highestMouseButton));
        connect(mouseButton_, &QSpinBox::valueChanged, this, [this](int number) { edit(MacroStep::mouseButton(number)); });
        row->addWidget(mouseButton_);
        row->addStretch(1);
        row->addWidget(new ResetButton(qtText(MS::mouseButtonLabel),
                                       [this] { edit(MacroStep::mouseButton(MS::resetMouseButton)); }));
        break;
    }
    }
    // The new control says its step too.
    nameForReaders();
    controlHolder_->addWidget(control_);
}

MacroSequenceEditor::MacroSequenceEditor(QWidget* parent)
    : QWidget(parent), reset_(new ResetButton(qtText(MS::header), [this] { edit(MS::resetSequence()); })),
      emptyNotice_(new Explain(qtText(MS::emptyNotice))), rowsLayout_(new QVBoxLayout),
      addKey_(new QPushButton(qtText(MS::addKeyPress))), addPause_(new QPushButton(qtText(MS::addPause))) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);

    auto* header = new QHBoxLayout;
    header->addWidget(new QLabel(qtText(MS::header)));
    header->addStretch(1);
    header->addWidget(reset_);
    layout->addLayout(header);
    layout->addWidget(emptyNotice_);
    rowsLayout_->setContentsMargins(0, 0, 0, 0);
    rowsLayout_->setSpacing(8);
    layout->addLayout(rowsLayout_);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(addKey_);
    buttons->addWidget(addPause_);
    buttons->addStretch(1);
    layout->addLayout(buttons);
    layout->addWidget(new Explain(qtText(MS::explanation)));

    connect(addKey_, &QPushButton::clicked, this, [this] {
        std::vector<MacroStep> steps = steps_;
        steps.push_back(MS::keyPress());
        edit(steps);
    });
    connect(addPause_, &QPushButton::clicked, this, [this] {
        std::vector<MacroStep> steps = steps_;
        steps.push_back(MS::pause());
        edit(steps);
    });
    setSteps({});
}

void MacroSequenceEditor::setSteps(const std::vector<MacroStep>& steps) {
    steps_ = steps;
    while (rows_.size() > steps_.size()) {
        // Later: the row may be inside the call of its own delete button.
        for (QWidget* widget : {static_cast<QWidget*>(rows_.back().row), static_cast<QWidget*>(rows_.back().divider)}) {
            widget->hide();
            widget->deleteLater();
        }
        rows_.pop_back();
    }
    while (rows_.size() < steps_.size()) {
        auto* row = new MacroStepRow(static_cast<std::ptrdiff_t>(rows_.size()));
        connect(row, &MacroStepRow::stepEdited, this, [this](std::ptrdiff_t index, const MacroStep& step) {
            if (auto changed = MS::replacingStep(steps_, index, step)) edit(*changed);
        });
        connect(row, &MacroStepRow::deleteRequested, this, [this](std::ptrdiff_t index) {
            if (auto changed = MS::removingStep(steps_, index)) edit(*changed);
        });
        connect(row, &MacroStepRow::moveRequested, this, [this](std::ptrdiff_t index, int offset) {
            if (auto changed = offset < 0 ? MS::movingEarlier(steps_, index) : MS::movingLater(steps_, index))
                edit(*changed);
        });
        auto* divider = new QFrame;
        divider->setFrameShape(QFrame::HLine);
        divider->setFrameShadow(QFrame::Sunken);
        rowsLayout_->addWidget(row);
        rowsLayout_->addWidget(divider);
        rows_.push_back({row, divider});
    }
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        rows_[i].row->setReaderRow(readerRow_);
        rows_[i].row->setStep(MS::stepAt(steps_, static_cast<std::ptrdiff_t>(i)), steps_.size());
    }
    emptyNotice_->setVisible(steps_.empty());
}

void MacroSequenceEditor::setReaderRow(const QString& row) {
    readerRow_ = row;
    renameForReaders(addKey_, inRow(qtText(MS::addKeyPress), row));
    renameForReaders(addPause_, inRow(qtText(MS::addPause), row));
    for (const RowEntry& entry : rows_) entry.row->setReaderRow(readerRow_);
}

std::vector<MacroStepRow*> MacroSequenceEditor::rows() const {
    std::vector<MacroStepRow*> shown;
    for (const RowEntry& entry : rows_) shown.push_back(entry.row);
    return shown;
}

void MacroSequenceEditor::edit(const std::vector<MacroStep>& steps) {
    if (steps == steps_) return;
    Q_EMIT stepsEdited(steps);
}

} // namespace ravolet
