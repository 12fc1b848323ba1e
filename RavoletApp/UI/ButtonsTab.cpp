#include "RavoletApp/UI/ButtonsTab.hpp"

#include <QApplication>
#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyle>
#include <QVBoxLayout>

#include "Platform/Linux/Desktop/DesktopExec.hpp"
#include "RavoletApp/UI/AccessibleName.hpp"
#include "RavoletApp/UI/BindingCard.hpp"
#include "RavoletApp/UI/Explain.hpp"
#include "RavoletApp/UI/InputMapping.hpp"
#include "RavoletApp/UI/NoticeBanner.hpp"
#include "RavoletApp/UI/ProfileScope.hpp"
#include "RavoletApp/UI/QtText.hpp"
#include "RavoletApp/UI/ResetButton.hpp"
#include "RavoletApp/UI/Style.hpp"
#include "RavoletApp/UI/SymbolIcon.hpp"
#include "RavoletApp/ViewModels/AppInfo.hpp"
#include "RavoletApp/ViewModels/ButtonBindingEditing.hpp"

namespace ravolet {

namespace BB = ButtonBindingEditing;

namespace {

// The list's width for the standard body text.
constexpr int leftPaneWidth = 240;

// The right pane's scroller, which never scrolls sideways: no narrower than
// what it holds needs, which grows with the font and with the cards shown.
class VerticalScroller : public QScrollArea {
public:
    QSize minimumSizeHint() const override {
        QSize hint = QScrollArea::minimumSizeHint();
        if (widget() != nullptr)
            hint.setWidth(widget()->minimumSizeHint().width() + verticalScrollBar()->sizeHint().width() + 2 * frameWidth());
        return hint;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == widget() && event->type() == QEvent::LayoutRequest) updateGeometry();
        return QScrollArea::eventFilter(watched, event);
    }
};

QFrame* divider(QFrame::Shape shape) {
    auto* line = new QFrame;
    line->setFrameShape(shape);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

} // namespace

ButtonsTab::ButtonsTab(std::shared_ptr<AppModel> model, ProfileBinding& binding, QWidget* parent)
    : QWidget(parent), model_(std::move(model)), binding_(binding), factory_(Config::defaultConfig()),
      selectedButton_(BB::initialButton) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(makeLeftPane());
    row->addWidget(divider(QFrame::VLine));
    row->addWidget(makeRightPane(), 1);
    // The page's way back to the factory bindings is "Restore defaults".
    setShowsSettingResets(this, false);

    connect(&binding_, &ProfileBinding::changed, this, [this] { refill(); });
    refill();
}

ButtonsTab::~ButtonsTab() {
    if (watching_) qApp->removeEventFilter(this);
}

QWidget* ButtonsTab::makeLeftPane() {
    auto* pane = new QWidget;
    pane->setFixedWidth(fontScaled(leftPaneWidth, pane->font()));
    auto* column = new QVBoxLayout(pane);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    list_ = new QListWidget;
    list_->setFrameShape(QFrame::NoFrame);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setAccessibleName(QStringLiteral("Mouse buttons"));
    currentEntryOnlyWithTheFocus(list_);
    for (std::int64_t button : BB::bindableButtons()) {
        auto* cell = new QWidget;
        auto* lines = new QVBoxLayout(cell);
        lines->setContentsMargins(10, 5, 10, 5);
        lines->setSpacing(2);
        auto* name = new QLabel(QString::fromStdString(BB::buttonName(button)));
        name->setTextFormat(Qt::PlainText);
        auto* summary = new QLabel;
        summary->setTextFormat(Qt::PlainText);
        applyTextStyle(summary, TextStyle::caption);
        applyTextColor(summary, SystemColor::secondary);
        lines->addWidget(name);
        lines->addWidget(summary);
        auto* item = new QListWidgetItem(list_);
        item->setData(Qt::UserRole, static_cast<qlonglong>(button));
        item->setSizeHint(cell->sizeHint());
        list_->setItemWidget(item, cell);
        rows_[button] = {name, summary};
    }
    connect(list_, &QListWidget::currentRowChanged, this, [this](int row) {
        if (QListWidgetItem* item = list_->item(row)) selectButton(item->data(Qt::UserRole).toLongLong());
    });
    column->addWidget(list_, 1);
    column->addWidget(divider(QFrame::HLine));

    auto* finder = new QWidget;
    auto* finderColumn = new QVBoxLayout(finder);
    finderColumn->setContentsMargins(10, 10, 10, 10);
    finderColumn->setSpacing(6);
    findSwitch_ = new QCheckBox(qtText(BB::findByPressing));
    applyTextStyle(findSwitch_, TextStyle::callout);
    // toggled, however the switch is flipped (a click, the space bar, a screen
    // reader); the page sets its state under a blocker.
    connect(findSwitch_, &QCheckBox::toggled, this, [this](bool on) { on ? startWatching() : stopWatching(); });
    finderColumn->addWidget(resettable(findSwitch_, qtText(BB::findResetTitle), [this] { stopWatching(); }));
    finderColumn->addWidget(new Explain(qtText(BB::findNote)));
    column->addWidget(finder);
    return pane;
}

QWidget* ButtonsTab::makeRightPane() {
    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(16);

    auto* header = new QVBoxLayout;
    header->setSpacing(4);
    auto* titleRow = new QHBoxLayout;
    title_ = new QLabel;
    title_->setTextFormat(Qt::PlainText);
    applyTextStyle(title_, TextStyle::title3);
    QFont bold = title_->font();
    bold.setBold(true);
    title_->setFont(bold);
    restore_ = new QPushButton(symbolIcon(QStringLiteral("clock.arrow.circlepath")), qtText(BB::restoreDefaults));
    restore_->setToolTip(qtText(BB::restoreHelp));
    connect(restore_, &QPushButton::clicked, this,
            [this] { write(BB::restoringDefaults(binding_.value(), selectedButton_, factory_)); });
    titleRow->addWidget(title_);
    titleRow->addStretch(1);
    titleRow->addWidget(restore_);
    header->addLayout(titleRow);
    note_ = new Explain(QString());
    header->addWidget(note_);
    column->addLayout(header);

    cardsLayout_ = new QVBoxLayout;
    cardsLayout_->setContentsMargins(0, 0, 0, 0);
    cardsLayout_->setSpacing(16);
    column->addLayout(cardsLayout_);

    banner_ = new NoticeBanner(NoticeBanner::Kind::informational, qtText(BB::untouchedTitle),
                               qtText(BB::untouchedMessage));
    column->addWidget(banner_);

    auto* adds = new QHBoxLayout;
    addJob_ = new QPushButton(qtText(BB::addJob));
    addModifierVersion_ = new QPushButton(qtText(BB::addModifierVersion));
    connect(addJob_, &QPushButton::clicked, this,
            [this] { write(BB::addingBinding(binding_.value(), selectedButton_, false)); });
    connect(addModifierVersion_, &QPushButton::clicked, this,
            [this] { write(BB::addingBinding(binding_.value(), selectedButton_, true)); });
    adds->addWidget(addJob_);
    adds->addWidget(addModifierVersion_);
    adds->addStretch(1);
    column->addLayout(adds);
    column->addWidget(new Explain(qtText(BB::modifierVersionsNote)));
    column->addStretch(1);

    auto* scroll = new VerticalScroller;
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidget(content);
    focusAsOne(scroll);
    rightPane_ = scroll;
    return scroll;
}

void ButtonsTab::selectButton(std::int64_t button) {
    if (!BB::isBindable(button) || button == selectedButton_) return;
    selectedButton_ = button;
    // Another button's cards start afresh.
    clearCards();
    refill();
}

void ButtonsTab::refill() {
    const Profile profile = binding_.value();
    refillList(profile);
    // The rows are drawn by widgets of their own; a reader is given each
    // row's name and summary as the entry's own text.
    for (const auto& [button, row] : rows_) {
        if (QListWidgetItem* item = list_->item(static_cast<int>(button - BB::firstBindableButton)))
            item->setData(Qt::AccessibleTextRole, QString::fromStdString(BB::rowAccessibleName(
                                                      button, row.summary->toolTip().toStdString())));
    }
    refillRightPane(profile);
}

void ButtonsTab::refillList(const Profile& profile) {
    const ApplicationNameLookup names = applicationNameLookup(*model_);
    const std::string commandSearchPath = platform::programSearchPath();
    // Less the scroll bar's width, which the list shows whenever its rows do not all fit.
    const int textWidth = list_->parentWidget()->width() - 20 - list_->frameWidth() * 2 -
                          list_->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, list_);
    for (const auto& [button, row] : rows_) {
        const QString summary = QString::fromStdString(BB::summary(profile, button, names, commandSearchPath));
        row.summary->setToolTip(summary);
        row.summary->setText(row.summary->fontMetrics().elidedText(summary, Qt::ElideRight, textWidth));
        // The selected row's texts are drawn on the highlight in its own text colour.
        const bool selected = button == selectedButton_;
        for (QLabel* label : {row.name, row.summary}) {
            QPalette palette = label->palette();
            const QColor text = selected ? list_->palette().color(QPalette::HighlightedText)
                                         : list_->palette().color(QPalette::Text);
            // In a list the labels draw in the view's text role.
            palette.setColor(QPalette::WindowText, text);
            palette.setColor(QPalette::Text, text);
            label->setPalette(palette);
        }
        if (!selected) applyTextColor(row.summary, SystemColor::secondary);
    }
    const QSignalBlocker blocker(list_);
    selectEntry(list_, list_->model()->index(static_cast<int>(selectedButton_ - BB::firstBindableButton), 0));
}

void ButtonsTab::refillRightPane(const Profile& profile) {
    const QString name = QString::fromStdString(BB::buttonName(selectedButton_));
    title_->setText(name);
    restore_->setAccessibleName(QString::fromStdString(BB::restoreAccessibleName(selectedButton_)));
    // A Tab stop of its own (its keys scroll the pane).
    renameForReaders(rightPane_, QStringLiteral("Bindings of ") + name);
    note_->setText(qtText(BB::buttonNote(selectedButton_)));

    const std::vector<std::size_t> indices = BB::bindingIndices(profile, selectedButton_);
    // Cards are identified by their binding's position: a card whose position
    // is still one of the button's keeps its widgets (and whatever the user is
    // doing in them), the others go.
    for (auto it = cards_.begin(); it != cards_.end();) {
        if (std::ranges::find(indices, it->first) != indices.end()) {
            ++it;
            continue;
        }
        // Later: the card may be inside the call of its own delete button.
        it->second->hide();
        it->second->deleteLater();
        it = cards_.erase(it);
    }
    int place = 0;
    for (std::size_t index : indices) {
        BindingCard*& card = cards_[index];
        if (!card) {
            card = new BindingCard(model_);
            connect(card, &BindingCard::bindingEdited, this, [this, index](const ButtonBinding& edited) {
                if (auto changed = BB::replacingBinding(binding_.value(), static_cast<std::ptrdiff_t>(index), edited))
                    write(*changed);
            });
            connect(card, &BindingCard::deleteRequested, this, [this, index] {
                if (auto changed = BB::removingBinding(binding_.value(), static_cast<std::ptrdiff_t>(index)))
                    write(*changed);
            });
        }
        cardsLayout_->removeWidget(card); // a no-op for a new card; keeps the order of the list
        cardsLayout_->insertWidget(place++, card);
        const auto position = static_cast<std::ptrdiff_t>(index);
        card->setBinding(BB::bindingAt(profile, position, selectedButton_),
                         BB::defaultAction(profile, position, selectedButton_, factory_));
        // A reader entering a card hears which binding its controls belong to.
        QString header = QString::fromStdString(BB::cardHeader(card->binding().modifiers));
        if (!header.isEmpty()) header[0] = header[0].toLower();
        renameForReaders(card, QStringLiteral("Binding %1, %2").arg(place).arg(header));
        // Its controls say which binding too, where a reader hears them
        // without the card's name (a list by its label alone).
        card->setReaderRow(QStringLiteral("binding %1").arg(place));
        card->show();
    }
    banner_->setVisible(indices.empty());
    addJob_->setEnabled(!BB::hasPlainBinding(profile, selectedButton_));
}

void ButtonsTab::clearCards() {
    for (auto& [index, card] : cards_) {
        card->hide();
        card->deleteLater();
    }
    cards_.clear();
}

std::vector<BindingCard*> ButtonsTab::cards() const {
    std::vector<BindingCard*> shown;
    for (const auto& [index, card] : cards_) shown.push_back(card);
    return shown;
}

QString ButtonsTab::rowSummary(std::int64_t button) const {
    const auto it = rows_.find(button);
    return it == rows_.end() ? QString() : it->second.summary->toolTip();
}

void ButtonsTab::write(const Profile& profile) { binding_.set(profile); }

void ButtonsTab::startWatching() {
    if (!watching_) {
        watching_ = true;
        qApp->installEventFilter(this);
    }
    const QSignalBlocker blocker(findSwitch_);
    findSwitch_->setChecked(true);
}

void ButtonsTab::stopWatching() {
    if (watching_) qApp->removeEventFilter(this);
    watching_ = false;
    const QSignalBlocker blocker(findSwitch_);
    findSwitch_->setChecked(false);
}

bool ButtonsTab::eventFilter(QObject* watched, QEvent* event) {
    if (watching_ && (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick)) {
        const auto* press = static_cast<QMouseEvent*>(event);
        const std::optional<int> number = mouseButtonNumber(press->button());
        // Every press other than the left and right buttons is taken, the
        // middle one included; only buttons 3 to 15 select.
        if (number && *number >= 2) {
            if (const auto found = BB::buttonFoundByPress(*number)) selectButton(*found);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ButtonsTab::showEvent(QShowEvent* event) {
    // Applications may have been renamed or installed meanwhile: the summaries
    // name them afresh. Filling writes nothing.
    refill();
    QWidget::showEvent(event);
}

void ButtonsTab::hideEvent(QHideEvent* event) {
    stopWatching();
    QWidget::hideEvent(event);
}

} // namespace ravolet
