#include "RavoletApp/UI/SettingsTabBar.hpp"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QEvent>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QToolButton>


#include "RavoletApp/UI/ArrowKeyGroup.hpp"
#include "RavoletApp/UI/QtText.hpp"
#include "RavoletApp/UI/Style.hpp"
#include "RavoletApp/UI/SymbolIcon.hpp"

namespace ravolet {

namespace {

constexpr double selectedFillOpacity = 0.05;

QColor translucent(QColor color, double alpha) {
    color.setAlphaF(static_cast<float>(alpha));
    return color;
}

QString rgba(QColor color, double alpha) {
    return QStringLiteral("rgba(%1, %2, %3, %4)")
        .arg(color.red())
        .arg(color.green())
        .arg(color.blue())
        .arg(QString::number(alpha, 'f', 2));
}

// A tab of the strip as assistive technology is given it: a page tab, chosen
// or not, whose press (a screen reader's "activate") shows its page as a
// click does.
class PageTabInterface final : public QAccessibleWidget {
public:
    explicit PageTabInterface(QToolButton* button) : QAccessibleWidget(button, QAccessible::PageTab) {}

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.selectable = true;
        state.selected = button()->isChecked();
        return state;
    }
    QStringList actionNames() const override {
        QStringList names;
        if (widget()->isEnabled()) names << pressAction();
        return names + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& action) override {
        if (action == pressAction()) {
            if (widget()->isEnabled()) button()->click();
            return;
        }
        QAccessibleWidget::doAction(action);
    }

private:
    QToolButton* button() const { return static_cast<QToolButton*>(widget()); }
};

QAccessibleInterface* tabStripFactory(const QString&, QObject* object) {
    auto* button = qobject_cast<QToolButton*>(object);
    if (button && qobject_cast<SettingsTabBar*>(button->parentWidget())) return new PageTabInterface(button);
    if (auto* strip = qobject_cast<SettingsTabBar*>(object)) return new QAccessibleWidget(strip, QAccessible::PageTabList);
    return nullptr;
}

} // namespace

SettingsTabBar::SettingsTabBar(QWidget* parent) : QWidget(parent) {
    static const bool readAsPageTabs = [] {
        QAccessible::installFactory(tabStripFactory);
        return true;
    }();
    (void)readAsPageTabs;
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
        button->setCheckable(true);
        button->setAutoRaise(true);
        button->setFocusPolicy(Qt::TabFocus);
        button->installEventFilter(this);
        connect(button, &QToolButton::clicked, this, [this, tab] {
            setSelection(tab);
            Q_EMIT selected(tab);
        });
        buttons_[static_cast<std::size_t>(position(tab))] = button;
        row->addWidget(button);
    }
    row->addStretch(1);
    keys_ = new ArrowKeyGroup({buttons_.begin(), buttons_.end()}, this);
    keys_->setHome([this] { return static_cast<QWidget*>(button(selection_)); });
    refresh();
    fitButtons();
}

// The key group asks this strip for its home tab while the focus moves, and
// a window that closes moves the focus as QWidget's own destructor hides the
// buttons, after this strip's part of the object is gone: the group goes
// first.
SettingsTabBar::~SettingsTabBar() { delete keys_; }

void SettingsTabBar::fitButtons() {
    QFont font = this->font();
    font.setPointSizeF(font.pointSizeF() * 11.0 / 13.0);
    font.setWeight(QFont::Medium);
    const QFontMetrics metrics(font);
    // 54 by 48 with a 20-pixel icon for the standard body text, more in a
    // larger font; every tab as wide as the longest title needs, beside the
    // border, the focus ring and a margin.
    const QSize icon = fontScaled(QSize(20, 20), this->font());
    constexpr int edge = 2 + 3;
    QSize size = fontScaled(QSize(54, 48), this->font());
    for (SettingsTab tab : allSettingsTabs) {
        size = size.expandedTo(QSize(metrics.horizontalAdvance(qtText(title(tab))) + 2 * edge,
                                     icon.height() + 3 + metrics.height() + 2 * edge));
    }
    for (QToolButton* button : buttons_) {
        button->setFont(font);
        button->setIconSize(icon);
        // And what the style asks, with the ring's wider border.
        size = size.expandedTo(button->sizeHint() + QSize(2, 2));
    }
    for (QToolButton* button : buttons_) button->setFixedSize(size);
}

void SettingsTabBar::setSelection(SettingsTab tab) {
    const SettingsTab before = selection_;
    selection_ = tab;
    refresh();
    if (tab == before || !QAccessible::isActive()) return;
    // A reader hears that another page tab is the chosen one.
    QAccessible::State changed;
    changed.selected = true;
    for (SettingsTab each : {before, tab}) {
        QAccessibleStateChangeEvent event(button(each), changed);
        QAccessible::updateAccessibility(&event);
    }
}

bool SettingsTabBar::event(QEvent* event) {
    const bool handled = QWidget::event(event);
    switch (event->type()) {
    // A child hears of its window's activation by these, not by ActivationChange.
    case QEvent::WindowActivate:
    case QEvent::WindowDeactivate:
    case QEvent::Show:
    case QEvent::PaletteChange: refresh(); break;
    case QEvent::FontChange: fitButtons(); break;
    default: break;
    }
    return handled;
}

bool SettingsTabBar::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) {
        // The ring shows where the keyboard brought the focus, not where the
        // window put it when it opened. A trip to another window or a popup
        // hands the focus back to the same tab, ring and all.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        const bool byKeyboard = reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
                                reason == Qt::ShortcutFocusReason;
        const bool roundTrip = reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason;
        QToolButton* ringed = ringed_;
        if (event->type() == QEvent::FocusIn && byKeyboard)
            ringed = static_cast<QToolButton*>(watched);
        else if (watched == ringed_ && !roundTrip)
            ringed = nullptr;
        if (ringed != ringed_) {
            ringed_ = ringed;
            refresh();
        }
        return false;
    }
    if (event->type() != QEvent::KeyPress) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->modifiers() & ~Qt::KeypadModifier) return false;
    if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) return false;
    static_cast<QToolButton*>(watched)->click();
    return true;
}

void SettingsTabBar::refresh() {
    if (keys_) keys_->refresh();
    const bool active = isActiveWindow();
    const QPalette& pal = palette();
    const QColor primary = pal.color(QPalette::WindowText);
    // The selected tab's label stands on its faint fill.
    const QColor fill = composited(translucent(primary, selectedFillOpacity), pal.color(QPalette::Window));
    const QColor accent = accentInk(pal, {fill, pal.color(QPalette::Window)}, minimumTextContrast);
    const QColor secondary = textColor(SystemColor::secondary, pal);
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
                         .arg(rgba(primary, selectedFillOpacity), rgba(primary, active ? 0.12 : 0.0));
        }
        // Where the keyboard is: a ring in the accent colour, on any tab.
        if (button == ringed_ && active) sheet += QStringLiteral("QToolButton { border: 2px solid %1; }").arg(accent.name());
        button->setStyleSheet(sheet);
    }
}

} // namespace ravolet
