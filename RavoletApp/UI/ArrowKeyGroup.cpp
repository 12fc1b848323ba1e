#include "RavoletApp/UI/ArrowKeyGroup.hpp"

#include <QEvent>
#include <QKeyEvent>

#include <algorithm>

namespace ravolet {

namespace {

bool canTakeFocus(const QWidget* widget) { return widget != nullptr && widget->isEnabled() && !widget->isHidden(); }

} // namespace

ArrowKeyGroup::ArrowKeyGroup(std::vector<QWidget*> members, QObject* parent) : QObject(parent) {
    for (QWidget* widget : members) {
        // A member that only Tab focused takes the focus from a click instead,
        // so that a reader can still move there (AT-SPI's GrabFocus).
        const auto withoutTab = static_cast<Qt::FocusPolicy>(widget->focusPolicy() & ~Qt::TabFocus);
        members_.push_back({widget, withoutTab == Qt::NoFocus ? Qt::ClickFocus : withoutTab});
        widget->installEventFilter(this);
    }
    refresh();
}

void ArrowKeyGroup::setHome(std::function<QWidget*()> home) {
    home_ = std::move(home);
    refresh();
}

QWidget* ArrowKeyGroup::stop() const {
    for (const Member& member : members_)
        if (member.widget && member.widget->hasFocus()) return member.widget;
    if (home_) {
        QWidget* home = home_();
        if (canTakeFocus(home)) return home;
    }
    for (const Member& member : members_)
        if (canTakeFocus(member.widget)) return member.widget;
    return nullptr;
}

void ArrowKeyGroup::refresh() {
    const QWidget* tabStop = stop();
    for (const Member& member : members_) {
        if (!member.widget) continue;
        const Qt::FocusPolicy policy =
            member.widget == tabStop ? static_cast<Qt::FocusPolicy>(member.withoutTab | Qt::TabFocus) : member.withoutTab;
        if (member.widget->focusPolicy() != policy) member.widget->setFocusPolicy(policy);
    }
}

void ArrowKeyGroup::moveFocus(QWidget* from, int key) {
    const auto at = std::ranges::find_if(members_, [from](const Member& member) { return member.widget == from; });
    if (at == members_.end()) return;
    const auto index = static_cast<std::ptrdiff_t>(at - members_.begin());
    const auto count = static_cast<std::ptrdiff_t>(members_.size());
    const bool reversed = from->isRightToLeft();
    std::ptrdiff_t start = index;
    std::ptrdiff_t direction = 0;
    switch (key) {
    case Qt::Key_Home: start = -1; direction = 1; break;
    case Qt::Key_End: start = count; direction = -1; break;
    case Qt::Key_Up: direction = -1; break;
    case Qt::Key_Down: direction = 1; break;
    case Qt::Key_Left: direction = reversed ? 1 : -1; break;
    case Qt::Key_Right: direction = reversed ? -1 : 1; break;
    default: return;
    }
    // The next member that can take the focus; at an end the focus stays.
    for (std::ptrdiff_t next = start + direction; next >= 0 && next < count; next += direction) {
        QWidget* widget = members_[static_cast<std::size_t>(next)].widget;
        if (!canTakeFocus(widget)) continue;
        widget->setFocus(Qt::TabFocusReason);
        return;
    }
}

bool ArrowKeyGroup::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::FocusIn:
    case QEvent::FocusOut:
    case QEvent::EnabledChange:
    case QEvent::ShowToParent:
    case QEvent::HideToParent: refresh(); return false;
    case QEvent::KeyPress: {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->modifiers() & ~Qt::KeypadModifier) return false;
        switch (key->key()) {
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_Home:
        case Qt::Key_End: moveFocus(static_cast<QWidget*>(watched), key->key()); return true;
        default: return false;
        }
    }
    default: return false;
    }
}

} // namespace ravolet
