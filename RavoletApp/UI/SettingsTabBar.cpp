#include "RavoletApp/UI/SettingsTabBar.hpp"

#include <QEvent>
#include <QHBoxLayout>
#include <QToolButton>

#include "RavoletApp/UI/QtText.hpp"
#include "RavoletApp/UI/Style.hpp"
#include "RavoletApp/UI/SymbolIcon.hpp"

namespace ravolet {

namespace {

QString rgba(QColor color, double alpha) {
    return QStringLiteral("rgba(%1, %2, %3, %4)")
        .arg(color.red())
        .arg(color.green())
        .arg(color.blue())
        .arg(QString::number(alpha, 'f', 2));
}

} // namespace

SettingsTabBar::SettingsTabBar(QWidget* parent) : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 6, 0, 6);
    row->setSpacing(2);
    row->addStretch(1);
    for (SettingsTab tab : allSettingsTabs) {
        auto* button = new QToolButton(this);
        button->setText(qtText(title(tab)));
        button->setToolTip(qtText(title(tab)));
        button->setAccessibleName(qtText(title(tab)));
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        button->setIconSize(QSize(20, 20));
        button->setFixedSize(54, 48);
        button->setCheckable(true);
        button->setAutoRaise(true);
        button->setFocusPolicy(Qt::TabFocus);
        QFont font = button->font();
        font.setPointSizeF(font.pointSizeF() * 11.0 / 13.0);
        font.setWeight(QFont::Medium);
        button->setFont(font);
        connect(button, &QToolButton::clicked, this, [this, tab] {
            setSelection(tab);
            Q_EMIT selected(tab);
        });
        buttons_[static_cast<std::size_t>(position(tab))] = button;
        row->addWidget(button);
    }
    row->addStretch(1);
    refresh();
}

void SettingsTabBar::setSelection(SettingsTab tab) {
    selection_ = tab;
    refresh();
}

void SettingsTabBar::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange || event->type() == QEvent::PaletteChange) refresh();
}

void SettingsTabBar::refresh() {
    const bool active = isActiveWindow();
    const QPalette& pal = palette();
    const QColor accent = systemColor(SystemColor::accent, pal);
    const QColor secondary = systemColor(SystemColor::secondary, pal);
    const QColor primary = pal.color(QPalette::WindowText);
    for (SettingsTab tab : allSettingsTabs) {
        QToolButton* button = this->button(tab);
        const bool selected = tab == selection_;
        const QColor ink = selected && active ? accent : secondary;
        button->setChecked(selected);
        button->setIcon(symbolIcon(qtText(symbolName(tab)), ink));
        QString sheet = QStringLiteral("QToolButton { color: %1; border: 1px solid transparent; border-radius: 7px; "
                                       "background: transparent; padding: 0; }")
                            .arg(ink.name());
        if (selected) {
            sheet += QStringLiteral("QToolButton { background: %1; border-color: %2; }")
                         .arg(rgba(primary, 0.05), rgba(primary, active ? 0.12 : 0.0));
        }
        button->setStyleSheet(sheet);
    }
}

} // namespace ravolet
