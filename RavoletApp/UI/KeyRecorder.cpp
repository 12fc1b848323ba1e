#include "RavoletApp/UI/KeyRecorder.hpp"

#include "RavoletApp/UI/AccessibleName.hpp"
#include "RavoletApp/UI/AdaptiveGrid.hpp"
#include "RavoletApp/UI/Explain.hpp"
#include "RavoletApp/UI/InputMapping.hpp"
#include "RavoletApp/UI/QtText.hpp"
#include "RavoletApp/UI/ResetButton.hpp"
#include "RavoletApp/UI/Style.hpp"
#include "RavoletApp/ViewModels/KeyCatalog.hpp"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStandardItemModel>
#include <QVBoxLayout>

#include <algorithm>

namespace ravolet {

namespace {

// The one recorder that holds the application's keys now. Widgets live on the
// main thread only.
QPointer<KeyRecorder> activeRecorder;

// The catalogue's keys, one section per group headed by its name; each entry
// carries its key code.
void fillKeyPicker(QComboBox* picker) {
    auto* model = new QStandardItemModel(picker);
    for (std::string_view group : KeyCatalog::groupOrder) {
        auto* header = new QStandardItem(qtText(group));
        header->setFlags(Qt::NoItemFlags);
        QFont bold = picker->font();
        bold.setBold(true);
        header->setFont(bold);
        model->appendRow(header);
        for (const KeyCatalog::Key& key : KeyCatalog::keys(group)) {
            auto* item = new QStandardItem(qtText(key.name));
            item->setData(key.code, Qt::UserRole);
            model->appendRow(item);
        }
    }
    picker->setModel(model);
}

} // namespace

KeyRecorder::KeyRecorder(const QString& label, QWidget* parent)
    : QWidget(parent), model_(label.toStdString()), label_(new QLabel(label)), record_(new QPushButton),
      recordReset_(nullptr), explanation_(new Explain(QString())), choices_(new QWidget),
      pickerLabel_(new QLabel(qtText(KeyRecorderModel::keyPickerLabel))), picker_(new QComboBox),
      pickerReset_(nullptr) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);

    // The record row: label, the button at its natural width, its reset at
    // the trailing edge.
    record_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    record_->setMinimumWidth(120);
    auto* buttonHolder = new QWidget;
    auto* buttonRow = new QHBoxLayout(buttonHolder);
    buttonRow->setContentsMargins(0, 0, 0, 0);
    buttonRow->addWidget(record_);
    buttonRow->addStretch(1);
    auto* recordRow = new QHBoxLayout;
    recordRow->setSpacing(8);
    label_->setTextFormat(Qt::PlainText);
    recordRow->addWidget(label_);
    QWidget* resettableButton = resettable(buttonHolder, label, [this] { refresh(model_.resetRecordRow()); });
    recordReset_ = resettableButton->findChild<ResetButton*>();
    recordRow->addWidget(resettableButton, 1);
    column->addLayout(recordRow);
    column->addWidget(explanation_);

    auto* choicesColumn = new QVBoxLayout(choices_);
    choicesColumn->setContentsMargins(0, 0, 0, 0);
    choicesColumn->setSpacing(4);

    fillKeyPicker(picker_);
    picker_->setMaxVisibleItems(16);
    // The label beside the list, which it names for a reader.
    auto* pickerHolder = new QWidget;
    auto* pickerRow = new QHBoxLayout(pickerHolder);
    pickerRow->setContentsMargins(0, 0, 0, 0);
    pickerRow->setSpacing(8);
    pickerRow->addWidget(pickerLabel_);
    pickerRow->addWidget(picker_, 1);
    labelForReaders(pickerLabel_, picker_);
    QWidget* resettablePicker = resettable(pickerHolder, qtText(KeyRecorderModel::keyPickerResetTitle),
                                           [this] { refresh(model_.resetKey()); });
    pickerReset_ = resettablePicker->findChild<ResetButton*>();
    choicesColumn->addWidget(resettablePicker);

    auto* grid = new AdaptiveGrid;
    for (const EditableModifier& modifier : ModifierFlags::editable) {
        const ModifierFlags flag = modifier.flag;
        auto* box = new QCheckBox(qtText(modifier.name));
        box->setAccessibleName(modifierName(flag));
        QWidget* cell = resettable(box, qtText(modifier.name), [this, flag] { refresh(model_.resetModifier(flag)); });
        modifiers_.push_back({flag, box, cell->findChild<ResetButton*>()});
        // toggled, however the box is ticked (a click, the space bar, a screen
        // reader); refresh() fills it under a signal blocker.
        connect(box, &QCheckBox::toggled, this, [this, flag](bool on) { refresh(model_.setModifier(flag, on)); });
        if (flag == ModifierFlags::function) {
            box->setToolTip(qtText(KeyRecorderModel::fnNote));
            box->setAccessibleDescription(qtText(KeyRecorderModel::fnNote));
        }
        grid->addCell(cell);
    }
    choicesColumn->addWidget(grid);
    choicesColumn->addWidget(new Explain(qtText(KeyRecorderModel::modifiersExplanation)));
    fnNote_ = new Explain(qtText(KeyRecorderModel::fnNote));
    choicesColumn->addWidget(fnNote_);
    column->addWidget(choices_);
    // Spare height goes below the control, which keeps to the top when its
    // choices hide during a recording.
    column->addStretch(1);

    connect(record_, &QPushButton::clicked, this, [this] { toggleRecording(); });
    // activated: only the user's own choice writes.
    connect(picker_, &QComboBox::activated, this, [this](int index) {
        const QVariant code = picker_->itemData(index, Qt::UserRole);
        if (code.isValid()) refresh(model_.chooseKey(static_cast<std::uint16_t>(code.toUInt())));
    });

    refresh(false);
}

void KeyRecorder::setReaderRow(const QString& row) {
    readerRow_ = row;
    labelForReaders(pickerLabel_, picker_, inRow(qtText(KeyRecorderModel::keyPickerLabel), row));
    for (const ModifierControls& controls : modifiers_) renameForReaders(controls.box, modifierName(controls.flag));
    renameForReaders(record_, recordName());
}

QString KeyRecorder::modifierName(ModifierFlags flag) const {
    // Told apart from the modifiers a binding needs held: these go with the key.
    for (const EditableModifier& modifier : ModifierFlags::editable)
        if (modifier.flag == flag) return inRow(QStringLiteral("%1 with %2").arg(label_->text(), qtText(modifier.name)), readerRow_);
    return {};
}

QString KeyRecorder::recordName() const {
    const QString name = QString::fromStdString(model_.accessibleName());
    if (readerRow_.isEmpty()) return name;
    return readerRow_.left(1).toUpper() + readerRow_.mid(1) + QStringLiteral(": ") + name;
}

KeyRecorder::~KeyRecorder() {
    if (filtering_) qApp->removeEventFilter(this);
}

void KeyRecorder::setKey(RecordedKey key) {
    model_.setKey(key);
    refresh(false);
}

void KeyRecorder::toggleRecording() {
    if (model_.isRecording()) {
        model_.stop();
        refresh(false);
    } else {
        startRecording();
    }
}

void KeyRecorder::startRecording() {
    if (activeRecorder && activeRecorder != this) {
        KeyRecorder* other = activeRecorder;
        other->model_.stop();
        other->refresh(false);
    }
    model_.start();
    refresh(false);
}

QCheckBox* KeyRecorder::modifierCheckBox(ModifierFlags flag) const {
    for (const ModifierControls& controls : modifiers_) {
        if (controls.flag == flag) return controls.box;
    }
    return nullptr;
}

ResetButton* KeyRecorder::modifierResetButton(ModifierFlags flag) const {
    for (const ModifierControls& controls : modifiers_) {
        if (controls.flag == flag) return controls.reset;
    }
    return nullptr;
}

void KeyRecorder::refresh(bool written) {
    const bool recording = model_.isRecording();
    if (recording && !filtering_) {
        qApp->installEventFilter(this);
        filtering_ = true;
        activeRecorder = this;
    } else if (!recording && filtering_) {
        qApp->removeEventFilter(this);
        filtering_ = false;
        if (activeRecorder == this) activeRecorder = nullptr;
    }

    record_->setText(QString::fromStdString(model_.buttonTitle()));
    renameForReaders(record_, recordName());
    QPalette palette = this->palette();
    if (recording) {
        // A filled button: the highlight that its text colour is made for.
        palette.setColor(QPalette::Button, palette.color(QPalette::Active, QPalette::Highlight));
        palette.setColor(QPalette::ButtonText, palette.color(QPalette::HighlightedText));
    }
    record_->setPalette(palette);
    explanation_->setText(qtText(model_.explanation()));
    choices_->setVisible(model_.showsChoices());

    {
        const QSignalBlocker blocker(picker_);
        picker_->setCurrentIndex(picker_->findData(model_.key().code, Qt::UserRole));
    }
    for (const ModifierControls& controls : modifiers_) {
        const QSignalBlocker blocker(controls.box);
        controls.box->setChecked(model_.hasModifier(controls.flag));
    }
    fnNote_->setVisible(model_.hasModifier(ModifierFlags::function));

    if (written) Q_EMIT keyEdited(model_.key());
}

bool KeyRecorder::eventFilter(QObject* watched, QEvent* event) {
    if (model_.isRecording() && handleKey(event)) return true;
    return QWidget::eventFilter(watched, event);
}

bool KeyRecorder::handleKey(QEvent* event) {
    switch (event->type()) {
        case QEvent::ShortcutOverride:
            // Accepting the override keeps every shortcut from firing; the
            // press that follows comes here too.
            event->accept();
            return true;
        case QEvent::KeyPress: {
            const auto& key = static_cast<const QKeyEvent&>(*event);
            if (isModifierKey(key)) {
                model_.modifiersChanged(heldModifiers(key));
                refresh(false);
            } else if (const auto code = hostKeyCode(key)) {
                refresh(model_.keyDown(*code, heldModifiers(key)));
            }
            // A key the document cannot name is swallowed and the recording
            // goes on.
            return true;
        }
        case QEvent::KeyRelease: {
            // Only a modifier's release belongs to the recording; another key's
            // release (of a press from before it began) goes where it would.
            const auto& key = static_cast<const QKeyEvent&>(*event);
            if (!isModifierKey(key)) return false;
            model_.modifiersChanged(heldModifiers(key));
            refresh(false);
            return true;
        }
        default: return false;
    }
}

void KeyRecorder::hideEvent(QHideEvent* event) {
    if (model_.isRecording()) {
        model_.stop();
        refresh(false);
    }
    QWidget::hideEvent(event);
}

} // namespace ravolet
