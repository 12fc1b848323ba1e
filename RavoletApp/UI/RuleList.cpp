#include "RavoletApp/UI/RuleList.hpp"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QFrame>
#include <QResizeEvent>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>

#include "RavoletApp/UI/RuleRow.hpp"

namespace ravolet {

namespace {

// Between a row and its divider, and after the divider.
constexpr int gap = 4;
constexpr int dividerHeight = 3;
// A row's height until one has been measured.
constexpr int guessedRowHeight = 110;

} // namespace

RuleList::RuleList(std::shared_ptr<AppModel> model, QWidget* parent) : QWidget(parent), model_(std::move(model)) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void RuleList::setRules(const std::vector<Rule>& rules, const std::vector<Profile>& profiles) {
    const bool sameRules = std::ranges::equal(rules, rules_, {}, &Rule::id, &Rule::id);
    rules_ = rules;
    profiles_ = profiles;
    if (!sameRules) {
        for (Slot& slot : slots_) release(slot);
        slots_.assign(rules_.size(), Slot{});
        place();
        realize();
        return;
    }
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        if (slots_[i].row) slots_[i].row->setRule(rules_[i], profiles_, i == 0, i + 1 == rules_.size(), i + 1);
    }
    // A longer or shorter explanation may change a row's height.
    if (measure()) place();
}

std::vector<RuleRow*> RuleList::rows() const {
    std::vector<RuleRow*> made;
    for (const Slot& slot : slots_)
        if (slot.row) made.push_back(slot.row);
    return made;
}

RuleRow* RuleList::rowAt(std::size_t index) const { return index < slots_.size() ? slots_[index].row : nullptr; }

int RuleList::topOf(std::size_t index) const { return tops_.at(std::min(index, tops_.size() - 1)); }

QSize RuleList::sizeHint() const { return {minimumRowWidth_, tops_.back()}; }

QSize RuleList::minimumSizeHint() const { return {minimumRowWidth_, tops_.back()}; }

void RuleList::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    followScrollAreas();
    scheduleRealize();
}

void RuleList::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // Rows take the new width and wrap their explanation to it.
    if (event->size().width() != event->oldSize().width()) {
        measure();
        place();
    }
    scheduleRealize();
}

void RuleList::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    scheduleRealize();
}

void RuleList::followScrollAreas() {
    if (followingScrollAreas_) return;
    followingScrollAreas_ = true;
    // Scrolling moves the page, not the list: the list hears of it from the
    // scroll bars of every scroll area around it.
    for (QWidget* outer = parentWidget(); outer != nullptr; outer = outer->parentWidget()) {
        auto* area = qobject_cast<QAbstractScrollArea*>(outer);
        if (!area) continue;
        connect(area->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { realize(); });
        connect(area->verticalScrollBar(), &QScrollBar::rangeChanged, this, [this] { scheduleRealize(); });
    }
}

void RuleList::scheduleRealize() {
    if (realizePending_) return;
    realizePending_ = true;
    // Once the layouts have placed everything.
    QTimer::singleShot(0, this, [this] {
        if (realizePending_) realize();
    });
}

void RuleList::realize() {
    realizePending_ = false;
    if (!isVisible() || slots_.empty()) return;
    // Making rows measures them, which moves the rows below: a few rounds
    // settle what is in view.
    for (int round = 0; round < 4; ++round) {
        const QRect seen = visibleArea();
        if (seen.isEmpty()) return;
        const int margin = std::max(seen.height(), guessedRowHeight);
        const std::size_t last = indexAt(seen.bottom() + margin);
        bool made = false;
        for (std::size_t i = indexAt(seen.top() - margin); i <= last; ++i) {
            if (slots_[i].row) continue;
            make(i);
            made = true;
        }
        const bool resized = measure();
        if (made || resized) place();
        if (!resized) break;
    }
    // Rows far out of view go, unless the keyboard focus is in one.
    const QRect seen = visibleArea();
    const int margin = 3 * std::max(seen.height(), guessedRowHeight);
    const std::size_t first = indexAt(seen.top() - margin), last = indexAt(seen.bottom() + margin);
    // The window's own: it keeps it while another window is active.
    const QWidget* focused = window()->focusWidget();
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        Slot& slot = slots_[i];
        if (slot.row && (i < first || i > last) && !(focused && slot.row->isAncestorOf(focused))) release(slot);
    }
}

void RuleList::make(std::size_t index) {
    Slot& slot = slots_[index];
    auto* row = new RuleRow(model_, this);
    // The row knows its rule before any of its signals can fire.
    row->setRule(rules_[index], profiles_, index == 0, index + 1 == rules_.size(), index + 1);
    const std::string id = rules_[index].id;
    connect(row, &RuleRow::ruleEdited, this, &RuleList::ruleEdited);
    connect(row, &RuleRow::deleteRequested, this, [this, id] { Q_EMIT deleteRequested(id); });
    connect(row, &RuleRow::raiseRequested, this, [this, id] { Q_EMIT moveRequested(id, -1); });
    connect(row, &RuleRow::lowerRequested, this, [this, id] { Q_EMIT moveRequested(id, +1); });
    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    slot.row = row;
    slot.divider = divider;
    if (minimumRowWidth_ == 0) {
        minimumRowWidth_ = row->minimumSizeHint().width();
        updateGeometry();
    }
    row->show();
    divider->show();
}

void RuleList::release(Slot& slot) {
    if (!slot.row) return;
    // Later: the row may be inside its own click.
    for (QWidget* widget : {static_cast<QWidget*>(slot.row), static_cast<QWidget*>(slot.divider)}) {
        widget->hide();
        widget->deleteLater();
    }
    slot.row = nullptr;
    slot.divider = nullptr;
}

bool RuleList::measure() {
    bool changed = false;
    for (Slot& slot : slots_) {
        if (!slot.row) continue;
        int height = slot.row->hasHeightForWidth() ? slot.row->heightForWidth(width()) : -1;
        if (height <= 0) height = slot.row->sizeHint().height();
        if (height == slot.rowHeight) continue;
        slot.rowHeight = height;
        // Rows not made yet are taken to be as high as the first one measured.
        if (estimatedRowHeight_ == 0) estimatedRowHeight_ = height;
        changed = true;
    }
    return changed;
}

int RuleList::rowHeightOf(std::size_t index) const {
    if (slots_[index].rowHeight > 0) return slots_[index].rowHeight;
    return estimatedRowHeight_ > 0 ? estimatedRowHeight_ : guessedRowHeight;
}

int RuleList::slotHeight(std::size_t index) const { return rowHeightOf(index) + gap + dividerHeight + gap; }

void RuleList::place() {
    tops_.assign(slots_.size() + 1, 0);
    for (std::size_t i = 0; i < slots_.size(); ++i) tops_[i + 1] = tops_[i] + slotHeight(i);
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        if (!slots_[i].row) continue;
        slots_[i].row->setGeometry(0, tops_[i], width(), rowHeightOf(i));
        slots_[i].divider->setGeometry(0, tops_[i] + rowHeightOf(i) + gap, width(), dividerHeight);
    }
    if (height() != tops_.back() || minimumHeight() != tops_.back()) {
        setFixedHeight(tops_.back());
        updateGeometry();
    }
}

QRect RuleList::visibleArea() const {
    if (!isVisible()) return {};
    // Clipped by every widget around it, up to the window.
    QRect area = rect();
    QPoint offset(0, 0);
    for (const QWidget* widget = this; !widget->isWindow() && widget->parentWidget(); widget = widget->parentWidget()) {
        offset += widget->pos();
        area = area.translated(widget->pos()) & widget->parentWidget()->rect();
    }
    return area.translated(-offset);
}

std::size_t RuleList::indexAt(int y) const {
    // The last slot that starts at or above y.
    const auto after = std::upper_bound(tops_.begin(), tops_.end() - 1, y);
    if (after == tops_.begin()) return 0;
    return std::min(static_cast<std::size_t>(after - tops_.begin()) - 1, slots_.size() - 1);
}

} // namespace ravolet
