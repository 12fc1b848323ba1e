#include "RavoletApp/UI/ResetButton.hpp"

#include "RavoletApp/UI/Style.hpp"
#include "RavoletApp/UI/SymbolIcon.hpp"

#include <QEvent>
#include <QHBoxLayout>
#include <QShortcut>
#include <QVariant>

namespace ravolet {

namespace {

constexpr char switchProperty[] = "showsSettingResets";

} // namespace

ResetButton::ResetButton(QString title, std::function<void()> action, QWidget* parent)
    : QToolButton(parent), title_(std::move(title)), action_(std::move(action)) {
    setAutoRaise(true);
    setIcon(symbolIcon(QStringLiteral("clock.arrow.circlepath")));
    setIconSize(fontScaled(QSize(16, 16), font()));
    setToolTip(helpText(title_));
    setAccessibleName(helpText(title_));
    connect(this, &QToolButton::clicked, this, [this] {
        if (action_) {
            action_();
        }
    });
}

QString ResetButton::helpText(const QString& title) {
    return QStringLiteral("Reset ") + title + QStringLiteral(" to default");
}

QKeySequence ResetButton::key() { return QKeySequence(Qt::CTRL | Qt::Key_R); }

void ResetButton::reachFrom(QWidget* area) {
    area_ = area;
    setFocusPolicy(Qt::NoFocus);
    setToolTip(QStringLiteral("%1 (%2)").arg(helpText(title_), key().toString(QKeySequence::NativeText)));
    // Only while the focus is in the area, so that each setting's key is its own.
    auto* shortcut = new QShortcut(key(), area);
    shortcut->setContext(Qt::WidgetWithChildrenShortcut);
    connect(shortcut, &QShortcut::activated, this, [this] {
        if (isVisible() && isEnabled()) click();
    });
}

void ResetButton::setVisible(bool visible) {
    // Remember a request to show that the switch turned down, so that turning
    // the switch on brings the button back; a page's own hide() is kept.
    const bool shows = showsSettingResets(this);
    hiddenBySwitch_ = visible && !shows;
    QToolButton::setVisible(visible && shows);
}

void ResetButton::followSwitch() {
    const bool shows = showsSettingResets(this);
    if (shows && hiddenBySwitch_) {
        hiddenBySwitch_ = false;
        QToolButton::setVisible(true);
    } else if (!shows && !isHidden()) {
        hiddenBySwitch_ = true;
        QToolButton::setVisible(false);
    }
}

bool ResetButton::event(QEvent* event) {
    // A subtree built elsewhere and then shown inside a container that hides
    // resets is shown without asking its buttons; they hide themselves here,
    // before anything is painted.
    if (event->type() == QEvent::Show && !showsSettingResets(this)) {
        hiddenBySwitch_ = true;
        QToolButton::setVisible(false);
        return true;
    }
    return QToolButton::event(event);
}

void setShowsSettingResets(QWidget* container, bool shows) {
    container->setProperty(switchProperty, shows);
    for (ResetButton* button : container->findChildren<ResetButton*>()) {
        button->followSwitch();
    }
}

bool showsSettingResets(const QWidget* widget) {
    for (const QWidget* at = widget; at != nullptr; at = at->parentWidget()) {
        const QVariant setting = at->property(switchProperty);
        if (setting.isValid()) {
            return setting.toBool();
        }
    }
    return true;
}

QWidget* resettable(QWidget* control, const QString& title, std::function<void()> action) {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(control, 1, Qt::AlignVCenter);
    auto* reset = new ResetButton(title, std::move(action));
    layout->addWidget(reset, 0, Qt::AlignVCenter);
    reset->reachFrom(row);
    return row;
}

} // namespace ravolet
