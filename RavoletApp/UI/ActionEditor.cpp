#include "RavoletApp/UI/ActionEditor.hpp"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "Platform/Linux/Desktop/DesktopExec.hpp"
#include "RavoletApp/UI/AccessibleName.hpp"
#include "RavoletApp/UI/AppPicker.hpp"
#include "RavoletApp/UI/Explain.hpp"
#include "RavoletApp/UI/KeyRecorder.hpp"
#include "RavoletApp/UI/MacroSequenceEditor.hpp"
#include "RavoletApp/UI/ModelObserver.hpp"
#include "RavoletApp/UI/PageSection.hpp"
#include "RavoletApp/UI/QtText.hpp"
#include "RavoletApp/UI/ResetButton.hpp"
#include "RavoletApp/UI/StatusDot.hpp"
#include "RavoletApp/UI/Style.hpp"
#include "RavoletApp/UI/ValueSlider.hpp"
#include "RavoletApp/ViewModels/ActionEditing.hpp"
#include "RavoletApp/ViewModels/ActionKind.hpp"
#include "RavoletApp/ViewModels/AppInfo.hpp"

namespace ravolet {

namespace AE = ActionEditing;

namespace {

// A column without margins.
QVBoxLayout* column(QWidget* owner, int spacing) {
    auto* layout = new QVBoxLayout(owner);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return layout;
}

// A label and its content side by side, the content taking the spare width.
QWidget* labelledRow(const QString& label, QWidget* content) {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    auto* text = new QLabel(label);
    text->setTextFormat(Qt::PlainText);
    layout->addWidget(text);
    layout->addWidget(content, 1);
    return row;
}

// Sets a text field's text only when it differs, so that a refill caused by
// the user's own typing leaves the cursor where it is.
void fillField(QLineEdit* field, const std::string& text) {
    const QString value = QString::fromStdString(text);
    if (field->text() == value) return;
    const QSignalBlocker blocker(field);
    field->setText(value);
}

} // namespace

ActionEditor::ActionEditor(std::shared_ptr<AppModel> model, QWidget* parent)
    : QWidget(parent), model_(std::move(model)), pickerLabel_(new QLabel(qtText(AE::pickerTitle))),
      picker_(new QComboBox), pickerReset_(nullptr),
      explanation_(new Explain(QString())) {
    auto* layout = column(this, 10);

    for (ActionKind kind : allActionKinds) picker_->addItem(qtText(title(kind)), qtText(toString(kind)));
    picker_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    // The label beside the list, which it names for a reader.
    auto* pickerHolder = new QWidget;
    auto* pickerRow = new QHBoxLayout(pickerHolder);
    pickerRow->setContentsMargins(0, 0, 0, 0);
    pickerRow->setSpacing(8);
    pickerLabel_->setTextFormat(Qt::PlainText);
    pickerRow->addWidget(pickerLabel_);
    pickerRow->addWidget(picker_);
    pickerRow->addStretch(1);
    labelForReaders(pickerLabel_, picker_);
    QWidget* resettablePicker =
        resettable(pickerHolder, qtText(AE::pickerResetTitle), [this] { edit(defaultAction_); });
    pickerReset_ = resettablePicker->findChild<ResetButton*>();
    layout->addWidget(resettablePicker);
    layout->addWidget(explanation_);
    caseHolder_ = new QVBoxLayout;
    caseHolder_->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(caseHolder_);

    // activated: only the user's own choice writes.
    connect(picker_, &QComboBox::activated, this, [this](int index) {
        if (index < 0 || index >= static_cast<int>(allActionKinds.size())) return;
        edit(AE::withKind(action_, allActionKinds[static_cast<std::size_t>(index)]));
    });
}

void ActionEditor::setAction(const Action& action, const Action& defaultAction) {
    const bool caseChanged = !hasAction_ || actionKind(action) != actionKind(action_);
    action_ = action;
    defaultAction_ = defaultAction;
    hasAction_ = true;

    const ActionKind kind = actionKind(action_);
    {
        const QSignalBlocker blocker(picker_);
        picker_->setCurrentIndex(static_cast<int>(kind));
    }
    explanation_->setText(qtText(explanation(kind)));
    if (caseChanged) rebuildCaseEditor();
    refillCaseEditor();
}

void ActionEditor::edit(const Action& action) {
    if (action == action_) return;
    Q_EMIT actionEdited(action);
}

void ActionEditor::rebuildCaseEditor() {
    if (caseEditor_) {
        // Later: the old editor may be inside the call that led here.
        caseEditor_->hide();
        caseEditor_->deleteLater();
    }
    caseEditor_ = nullptr;
    recorder_ = nullptr;
    repeatSlider_ = nullptr;
    sequenceEditor_ = nullptr;
    dpiSlider_ = nullptr;
    dpiNote_ = nullptr;
    appIcon_ = nullptr;
    appName_ = nullptr;
    appPicker_ = nullptr;
    bundleIDField_ = nullptr;
    shortcutField_ = nullptr;
    commandCheck_ = nullptr;

    switch (actionKind(action_)) {
    case ActionKind::passThrough:
        return;
    case ActionKind::keyStroke:
    case ActionKind::hold:
        caseEditor_ = makeKeyEditor(false);
        break;
    case ActionKind::repeatWhileHeld:
        caseEditor_ = makeKeyEditor(true);
        break;
    case ActionKind::sequence:
        caseEditor_ = sequenceEditor_ = new MacroSequenceEditor;
        connect(sequenceEditor_, &MacroSequenceEditor::stepsEdited, this,
                [this](const std::vector<MacroStep>& steps) { edit(Action::sequence(steps)); });
        break;
    case ActionKind::dpiShift:
        caseEditor_ = makeDPIShiftEditor();
        break;
    case ActionKind::launchApp:
        caseEditor_ = makeLaunchAppEditor();
        break;
    case ActionKind::runShortcut:
        caseEditor_ = makeShortcutEditor();
        break;
    }
    caseHolder_->addWidget(caseEditor_);
    nameRowForReaders();
}

void ActionEditor::setReaderRow(const QString& row) {
    if (row == readerRow_) return;
    readerRow_ = row;
    nameRowForReaders();
}

void ActionEditor::nameRowForReaders() {
    labelForReaders(pickerLabel_, picker_, inRow(qtText(AE::pickerTitle), readerRow_));
    if (recorder_) recorder_->setReaderRow(readerRow_);
    if (sequenceEditor_) sequenceEditor_->setReaderRow(readerRow_);
    if (appPicker_) renameForReaders(appPicker_, inRow(qtText(AE::chooseApp), readerRow_));
    if (bundleIDField_) renameForReaders(bundleIDField_, inRow(qtText(AE::bundleIDTitle), readerRow_));
    if (shortcutField_) renameForReaders(shortcutField_, inRow(qtText(AE::shortcutFieldTitle), readerRow_));
}

void ActionEditor::refillCaseEditor() {
    if (recorder_) recorder_->setKey(AE::key(action_));
    if (repeatSlider_) repeatSlider_->setValue(AE::repeatInterval(action_));
    if (sequenceEditor_) sequenceEditor_->setSteps(AE::sequenceSteps(action_));
    if (dpiSlider_) {
        dpiSlider_->setValue(static_cast<double>(AE::shiftDPI(action_)));
        refreshDPINote();
    }
    if (bundleIDField_) {
        fillField(bundleIDField_, AE::launchBundleID(action_));
        refreshApplication();
    }
    if (shortcutField_) {
        fillField(shortcutField_, AE::shortcutName(action_));
        refreshCommandCheck();
    }
}

QWidget* ActionEditor::makeKeyEditor(bool withInterval) {
    auto* editor = new QWidget;
    auto* layout = column(editor, 10);
    recorder_ = new KeyRecorder(qtText(AE::keyLabel));
    connect(recorder_, &KeyRecorder::keyEdited, this, [this](RecordedKey key) { edit(AE::withKey(action_, key)); });
    layout->addWidget(recorder_);
    if (withInterval) {
        repeatSlider_ = new ValueSlider({.title = qtText(AE::repeatTitle),
                                         .help = qtText(AE::repeatHelp),
                                         .range = {20, 1000},
                                         .step = 10,
                                         .defaultValue = AE::defaultRepeatIntervalMillis,
                                         .precisionStep = 1,
                                         .format = [](double ms) { return qtText(AE::millisecondsText(ms)); }});
        connect(repeatSlider_, &ValueSlider::valueEdited, this,
                [this](double ms) { edit(AE::withRepeatInterval(action_, ms)); });
        layout->addWidget(repeatSlider_);
    }
    return editor;
}

QWidget* ActionEditor::makeDPIShiftEditor() {
    auto* editor = new QWidget;
    auto* layout = column(editor, 4);
    dpiSlider_ = new ValueSlider({.title = qtText(AE::dpiTitle),
                                  .help = qtText(AE::dpiHelp),
                                  .range = {100, 25600},
                                  .step = 50,
                                  .defaultValue = static_cast<double>(AE::defaultShiftDPI),
                                  .precisionStep = 50,
                                  .format = [](double dpi) {
                                      return QLocale().toString(static_cast<qlonglong>(AE::dpiFromSlider(dpi)));
                                  }});
    connect(dpiSlider_, &ValueSlider::valueEdited, this,
            [this](double dpi) { edit(Action::dpiShift(AE::dpiFromSlider(dpi))); });
    layout->addWidget(dpiSlider_);
    layout->addWidget(new Explain(qtText(AE::dpiExplanation)));
    dpiNote_ = new Explain(QString());
    layout->addWidget(dpiNote_);
    // The note follows the mouse: it appears once its capability is read.
    observeWhileAlive(dpiNote_, model_->deviceMonitor().snapshot(),
                      [this](const DeviceMonitor::Snapshot&) { refreshDPINote(); });
    return editor;
}

void ActionEditor::refreshDPINote() {
    if (!dpiNote_) return;
    const std::optional<std::string> note =
        AE::dpiRoundingNote(model_->deviceMonitor().snapshot().value().dpiRange, AE::shiftDPI(action_));
    dpiNote_->setText(note ? QString::fromStdString(*note) : QString());
    dpiNote_->setVisible(note.has_value());
}

QWidget* ActionEditor::makeLaunchAppEditor() {
    auto* editor = new QWidget;
    auto* layout = column(editor, 4);

    auto* appRow = new QWidget;
    auto* appLayout = new QHBoxLayout(appRow);
    appLayout->setContentsMargins(0, 0, 0, 0);
    appLayout->setSpacing(6);
    appIcon_ = new AppIconView(model_, 16);
    appName_ = new QLabel;
    appName_->setTextFormat(Qt::PlainText);
    appLayout->addWidget(appIcon_);
    appLayout->addWidget(appName_);
    appPicker_ = new AppPickerButton(model_, qtText(AE::chooseApp), AppChoicePlace::launchAction);
    connect(appPicker_, &AppPickerButton::chosen, this,
            [this](const QString& bundleID) { edit(Action::launchApp(bundleID.toStdString())); });
    appLayout->addWidget(appPicker_);
    appLayout->addStretch(1);
    auto* appReset = new ResetButton(qtText(AE::appLabel), [this] { edit(Action::launchApp("")); });
    appLayout->addWidget(appReset);
    layout->addWidget(labelledRow(qtText(AE::appLabel), appRow));

    bundleIDField_ = new QLineEdit;
    bundleIDField_->setPlaceholderText(qtText(AE::bundleIDTitle));
    bundleIDField_->setAccessibleName(qtText(AE::bundleIDTitle));
    bundleIDField_->setMaximumWidth(fontScaled(320, bundleIDField_->font()));
    // Every change of the text is the user's, typed or set by a screen
    // reader; the editor's own fills are made under a signal blocker.
    connect(bundleIDField_, &QLineEdit::textChanged, this,
            [this](const QString& text) { edit(Action::launchApp(text.toStdString())); });
    layout->addWidget(bundleIDField_);
    layout->addWidget(new Explain(qtText(AE::bundleIDExplanation)));
    return editor;
}

void ActionEditor::refreshApplication() {
    if (!appName_) return;
    const std::string bundleID = AE::launchBundleID(action_);
    appIcon_->setVisible(!bundleID.empty());
    if (bundleID.empty()) {
        appName_->setText(qtText(AE::noAppChosen));
        applyTextColor(appName_, SystemColor::secondary);
        return;
    }
    appIcon_->setBundleID(QString::fromStdString(bundleID));
    const std::optional<std::string> name = applicationNameLookup(*model_)(bundleID);
    appName_->setText(QString::fromStdString(name && !name->empty() ? *name : bundleID));
    appName_->setPalette(QPalette());
}

QWidget* ActionEditor::makeShortcutEditor() {
    auto* editor = new QWidget;
    auto* layout = column(editor, 4);
    shortcutField_ = new QLineEdit;
    shortcutField_->setPlaceholderText(qtText(AE::shortcutFieldTitle));
    shortcutField_->setAccessibleName(qtText(AE::shortcutFieldTitle));
    shortcutField_->setFixedWidth(fontScaled(260, shortcutField_->font()));
    connect(shortcutField_, &QLineEdit::textChanged, this,
            [this](const QString& text) { edit(Action::runShortcut(text.toStdString())); });
    auto* fieldHolder = new QWidget;
    auto* fieldRow = new QHBoxLayout(fieldHolder);
    fieldRow->setContentsMargins(0, 0, 0, 0);
    fieldRow->addWidget(shortcutField_);
    fieldRow->addStretch(1);
    layout->addWidget(labelledRow(qtText(AE::shortcutLabel),
                                  resettable(fieldHolder, qtText(AE::shortcutLabel),
                                             [this] { edit(Action::runShortcut("")); })));
    commandCheck_ = new StatusDot(StatusDot::Level::off, QString());
    commandCheck_->setWordWrap(true);
    commandCheck_->setCaption(QStringLiteral("Command check"));
    layout->addWidget(commandCheck_);
    layout->addWidget(new Explain(qtText(AE::shortcutExplanation)));
    return editor;
}

void ActionEditor::refreshCommandCheck() {
    const auto check = AE::commandCheck(AE::shortcutName(action_), platform::programSearchPath());
    if (check) showStatus(commandCheck_, *check);
    commandCheck_->setVisible(check.has_value());
}

} // namespace ravolet
