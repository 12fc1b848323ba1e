#include "RavoletApp/UI/BindingCard.hpp"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

#include "RavoletApp/UI/AccessibleName.hpp"
#include "RavoletApp/UI/ActionEditor.hpp"
#include "RavoletApp/UI/AdaptiveGrid.hpp"
#include "RavoletApp/UI/Explain.hpp"
#include "RavoletApp/UI/QtText.hpp"
#include "RavoletApp/UI/ResetButton.hpp"
#include "RavoletApp/UI/Style.hpp"
#include "RavoletApp/UI/SymbolIcon.hpp"
#include "RavoletApp/ViewModels/ButtonBindingEditing.hpp"

namespace ravolet {

namespace BB = ButtonBindingEditing;

BindingCard::BindingCard(std::shared_ptr<AppModel> model, QWidget* parent)
    : QWidget(parent), enabled_(new QCheckBox(qtText(BB::enabledLabel))), header_(new QLabel),
      delete_(new QToolButton), fnNote_(new Explain(qtText(BB::fnNote))), editor_(new ActionEditor(std::move(model))) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 14, 14, 14);
    layout->setSpacing(10);

    auto* top = new QHBoxLayout;
    top->setSpacing(8);
    top->addWidget(resettable(enabled_, qtText(BB::enabledResetTitle), [this] {
        ButtonBinding changed = binding_;
        changed.isEnabled = true;
        edit(changed);
    }));
    header_->setTextFormat(Qt::PlainText);
    applyTextStyle(header_, TextStyle::callout);
    applyTextColor(header_, SystemColor::secondary);
    top->addWidget(header_);
    top->addStretch(1);
    delete_->setIcon(symbolIcon(QStringLiteral("trash"), systemColor(SystemColor::red, palette())));
    delete_->setAutoRaise(true);
    delete_->setAccessibleName(qtText(BB::removeBinding));
    delete_->setToolTip(qtText(BB::removeBinding));
    top->addWidget(delete_);
    layout->addLayout(top);
    // toggled, however the switch is flipped (a click, the space bar, a screen
    // reader); the card's own fills are made under a signal blocker.
    connect(enabled_, &QCheckBox::toggled, this, [this](bool on) {
        ButtonBinding changed = binding_;
        changed.isEnabled = on;
        edit(changed);
    });
    connect(delete_, &QToolButton::clicked, this, [this] { Q_EMIT deleteRequested(); });

    auto* grid = new AdaptiveGrid;
    for (const EditableModifier& modifier : ModifierFlags::editable) {
        const ModifierFlags flag = modifier.flag;
        auto* box = new QCheckBox(qtText(modifier.name));
        box->setAccessibleName(modifierName(flag));
        auto write = [this, flag](bool on) {
            ButtonBinding changed = binding_;
            changed.modifiers = BB::withModifier(changed.modifiers, flag, on);
            edit(changed);
        };
        connect(box, &QCheckBox::toggled, this, write);
        if (flag == ModifierFlags::function) {
            box->setToolTip(qtText(BB::fnNote));
            box->setAccessibleDescription(qtText(BB::fnNote));
        }
        grid->addCell(resettable(box, qtText(modifier.name), [write] { write(false); }));
        modifiers_.emplace_back(flag, box);
    }
    layout->addWidget(grid);
    layout->addWidget(new Explain(qtText(BB::modifiersNote)));
    applyTextColor(fnNote_, SystemColor::orange);
    layout->addWidget(fnNote_);
    auto* divider = new QFrame;
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    layout->addWidget(divider);
    layout->addWidget(editor_);
    connect(editor_, &ActionEditor::actionEdited, this, [this](const Action& action) {
        ButtonBinding changed = binding_;
        changed.action = action;
        edit(changed);
    });
}

void BindingCard::setBinding(const ButtonBinding& binding, const Action& defaultAction) {
    binding_ = binding;
    {
        const QSignalBlocker blocker(enabled_);
        enabled_->setChecked(binding_.isEnabled);
    }
    header_->setText(QString::fromStdString(BB::cardHeader(binding_.modifiers)));
    fnNote_->setVisible(binding_.modifiers.contains(ModifierFlags::function));
    for (const auto& [flag, box] : modifiers_) {
        const QSignalBlocker blocker(box);
        box->setChecked(BB::hasModifier(binding_.modifiers, flag));
    }
    editor_->setAction(binding_.action, defaultAction);
    editor_->setEnabled(binding_.isEnabled);
}

void BindingCard::setReaderRow(const QString& row) {
    readerRow_ = row;
    renameForReaders(enabled_, row.isEmpty() ? qtText(BB::enabledLabel)
                                             : row.left(1).toUpper() + row.mid(1) + QStringLiteral(" on"));
    renameForReaders(delete_, row.isEmpty() ? qtText(BB::removeBinding) : QStringLiteral("Remove ") + row);
    for (const auto& [flag, box] : modifiers_) renameForReaders(box, modifierName(flag));
    editor_->setReaderRow(row);
}

QString BindingCard::modifierName(ModifierFlags flag) const {
    // Told apart from the modifiers of the key an action sends.
    for (const EditableModifier& modifier : ModifierFlags::editable)
        if (modifier.flag == flag)
            return readerRow_.isEmpty() ? QStringLiteral("%1 held with the button").arg(qtText(modifier.name))
                                        : QStringLiteral("%1 held for %2").arg(qtText(modifier.name), readerRow_);
    return {};
}

QCheckBox* BindingCard::modifierCheckBox(ModifierFlags flag) const {
    for (const auto& [each, box] : modifiers_)
        if (each == flag) return box;
    return nullptr;
}

void BindingCard::edit(const ButtonBinding& binding) {
    if (binding == binding_) return;
    Q_EMIT bindingEdited(binding);
}

void BindingCard::paintEvent(QPaintEvent*) {
    // A quiet fill a little apart from the page, with a hairline edge.
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = palette().color(QPalette::Text);
    fill.setAlphaF(0.04f);
    QColor edge = palette().color(QPalette::Mid);
    painter.setPen(QPen(edge, 1));
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
}

} // namespace ravolet
