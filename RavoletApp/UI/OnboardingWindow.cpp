#include "RavoletApp/UI/OnboardingWindow.hpp"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <optional>
#include <string>

#include "RavoletApp/UI/AccessibleName.hpp"
#include "RavoletApp/UI/CommandLine.hpp"
#include "RavoletApp/UI/ModelObserver.hpp"
#include "RavoletApp/UI/QtText.hpp"
#include "RavoletApp/UI/ScreenFit.hpp"
#include "RavoletApp/UI/ShellExtensionSection.hpp"
#include "RavoletApp/UI/Style.hpp"
#include "RavoletApp/UI/SymbolIcon.hpp"

namespace ravolet {

namespace {

QLabel* paragraph(const QString& text, QWidget* parent, TextStyle style = TextStyle::body,
                  std::optional<SystemColor> color = std::nullopt) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    applyTextStyle(label, style);
    if (color) applyTextColor(label, *color);
    return label;
}

QLabel* symbol(const QString& name, int size, SystemColor color, QWidget* parent) {
    auto* label = new QLabel(parent);
    const int side = fontScaled(size, parent->font());
    label->setPixmap(symbolPixmap(name, side, systemColor(color, parent->palette()), parent->devicePixelRatioF()));
    label->setFixedSize(side, side);
    return label;
}

void setSymbol(QLabel* label, const QString& name, SystemColor color) {
    label->setPixmap(symbolPixmap(name, label->width(), systemColor(color, label->palette()), label->devicePixelRatioF()));
}

QFrame* divider(QWidget* parent) {
    auto* rule = new QFrame(parent);
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);
    return rule;
}

// The steps, each measured as itself: a stack is as tall as its tallest
// page, which on a screen too low for the window would stretch a short page
// past the view and put its last sentence behind the scroll bar.
class StepStack : public QStackedWidget {
public:
    using QStackedWidget::QStackedWidget;
    QSize sizeHint() const override { return currentWidget() ? currentWidget()->sizeHint() : QSize(); }
    QSize minimumSizeHint() const override {
        return currentWidget() ? currentWidget()->minimumSizeHint() : QSize();
    }
    int heightForWidth(int width) const override {
        return currentWidget() ? currentWidget()->heightForWidth(width) : -1;
    }
};

QWidget* welcomePage(QWidget* parent, QLabel*& nextSteps) {
    auto* page = new QWidget(parent);
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(24, 24, 24, 24);
    column->setSpacing(16);
    column->addWidget(paragraph(
        QStringLiteral("Ravolet makes your Logitech mouse behave the way you expected it to when you bought it."), page,
        TextStyle::title3));
    auto* bullets = new QVBoxLayout();
    bullets->setSpacing(10);
    const std::pair<const char*, const char*> lines[] = {
        {"computermouse", "The scroll wheel glides instead of jumping, especially when Ctrl + wheel is zooming a canvas."},
        {"keyboard", "Side buttons can type shortcuts, hold keys, play sequences or drop your DPI while held."},
        {"square.stack.3d.up", "Different settings for different apps, chosen automatically as you switch."},
        {"lock.shield", "Nothing leaves your computer. Ravolet has no account, no telemetry and nothing that keeps running after it quits."},
    };
    for (const auto& [name, text] : lines) {
        auto* row = new QHBoxLayout();
        row->setSpacing(10);
        auto* icon = symbol(QString::fromUtf8(name), 18, SystemColor::accent, page);
        auto* slot = new QWidget(page);
        slot->setFixedWidth(fontScaled(22, page->font()));
        auto* slotLayout = new QVBoxLayout(slot);
        slotLayout->setContentsMargins(0, 0, 0, 0);
        slotLayout->addWidget(icon, 0, Qt::AlignHCenter | Qt::AlignTop);
        row->addWidget(slot, 0, Qt::AlignTop);
        row->addWidget(paragraph(QString::fromUtf8(text), page), 1);
        bullets->addLayout(row);
    }
    column->addLayout(bullets);
    column->addStretch(1);
    // Worded by the grants still missing, at every refresh; the window is
    // measured with the longest wording, for both.
    nextSteps = paragraph(qtText(welcomeNextSteps(PermissionState{})), page, TextStyle::body, SystemColor::secondary);
    column->addWidget(nextSteps);
    return page;
}

// A sentence that names paths and commands: they are kept whole on screen,
// and the label is read by its plain text. None hides it.
void setProse(QLabel* label, const std::optional<std::string>& text) {
    const QString plain = text ? qtText(*text) : QString();
    label->setText(unbrokenPaths(plain));
    label->setAccessibleName(plain);
    label->setVisible(text.has_value());
}

QHBoxLayout* statusRow(QLabel*& icon, QLabel*& text, QWidget* page) {
    auto* row = new QHBoxLayout();
    row->setSpacing(8);
    icon = symbol(QStringLiteral("circle.dashed"), 22, SystemColor::secondary, page);
    text = paragraph(QString(), page, TextStyle::headline);
    row->addWidget(icon, 0, Qt::AlignVCenter);
    row->addWidget(text, 1, Qt::AlignVCenter);
    return row;
}

} // namespace

// ---- Permission page ----

PermissionStepPage::PermissionStepPage(OnboardingStep step, QWidget* parent) : QWidget(parent), step_(step) {
    const PermissionPage texts = permissionPage(step, {});
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(24, 24, 24, 24);
    column->setSpacing(14);
    column->addLayout(statusRow(statusIcon_, status_, this));
    auto* why = paragraph(QString(), this);
    setProse(why, texts.why);
    column->addWidget(why);
    auto* detail = paragraph(QString(), this, TextStyle::body, SystemColor::secondary);
    setProse(detail, texts.detail);
    column->addWidget(detail);
    extra_ = paragraph(QString(), this, TextStyle::callout, SystemColor::secondary);
    column->addWidget(extra_);

    howToBlock_ = new QWidget(this);
    auto* howTo = new QVBoxLayout(howToBlock_);
    howTo->setContentsMargins(0, 0, 0, 0);
    howTo->setSpacing(14);
    howTo_ = paragraph(QString(), howToBlock_, TextStyle::callout);
    howTo->addWidget(howTo_);
    // The commands the how-to speaks of, each whole and copyable.
    commands_ = new CommandList(howToBlock_);
    howTo->addWidget(commands_);
    closedNodes_ = paragraph(QString(), howToBlock_, TextStyle::callout, SystemColor::secondary);
    howTo->addWidget(closedNodes_);
    auto* watching = new QHBoxLayout();
    watching->setSpacing(6);
    auto* spinner = new QProgressBar(howToBlock_);
    spinner->setRange(0, 0);
    spinner->setTextVisible(false);
    spinner->setFixedSize(fontScaled(QSize(36, 8), spinner->font()));
    watching->addWidget(spinner, 0, Qt::AlignVCenter);
    watching_ = paragraph(qtText(texts.watching), howToBlock_, TextStyle::caption, SystemColor::secondary);
    watching->addWidget(watching_, 1);
    howTo->addLayout(watching);
    column->addWidget(howToBlock_);

    column->addStretch(1);
    column->addWidget(paragraph(QStringLiteral("Ravolet never pops up a permission dialog on its own — that would "
                                               "interrupt whatever you were doing. It only ever says what is missing "
                                               "and waits."),
                                this, TextStyle::caption, SystemColor::tertiary));
}

const std::vector<CommandLine*>& PermissionStepPage::commandLines() const { return commands_->lines(); }

void PermissionStepPage::refresh(const PermissionState& permissions) {
    const PermissionPage page = permissionPage(step_, permissions);
    status_->setText(qtText(page.statusLine));
    if (page.granted && !page.waiting) {
        setSymbol(statusIcon_, QStringLiteral("checkmark.circle.fill"), SystemColor::green);
    } else {
        setSymbol(statusIcon_, QStringLiteral("circle.dashed"), SystemColor::secondary);
    }
    setProse(extra_, page.extra);
    setProse(howTo_, page.howTo);
    commands_->setCommands(qtTexts(page.commands));
    setProse(closedNodes_, page.closedNodes);
    watching_->setText(qtText(page.watching));
    howToBlock_->setVisible(page.showsHowTo);
}

// ---- Closing page ----

ClosingStepPage::ClosingStepPage(AppModel& model, QWidget* parent) : QWidget(parent), model_(model) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(24, 24, 24, 24);
    column->setSpacing(14);
    column->addLayout(statusRow(statusIcon_, status_, this));
    whereToFix_ = paragraph(QString(), this);
    column->addWidget(whereToFix_);
    whereItLives_ = paragraph(QString(), this);
    column->addWidget(whereItLives_);
    login_ = new QCheckBox(QStringLiteral("Start Ravolet when I log in"), this);
    column->addWidget(login_);
    loginSentence_ = paragraph(QString(), this, TextStyle::callout, SystemColor::secondary);
    column->addWidget(loginSentence_);
    refusal_ = paragraph(QString(), this, TextStyle::caption, SystemColor::secondary);
    column->addWidget(refusal_);
    shellExtension_ = new ShellExtensionSection(model_.shared_from_this(), this);
    column->addWidget(shellExtension_);
    column->addStretch(1);
    comeBack_ = paragraph(QString(), this, TextStyle::caption, SystemColor::secondary);
    column->addWidget(comeBack_);
    connect(login_, &QCheckBox::toggled, this, [this](bool on) {
        model_.launchAtLogin().setEnabled(on);
        // The switch follows the status read back, which may not have changed.
        refresh(model_.permissions().value());
    });
}

void ClosingStepPage::refresh(const PermissionState& permissions) {
    const ClosingPage page = closingPage(permissions, model_.launchAtLogin().status().value(),
                                         model_.launchAtLogin().lastError().value(), model_.hasTray().value());
    status_->setText(qtText(page.statusLine));
    setProse(whereToFix_, page.whereToFix);
    whereItLives_->setText(qtText(page.whereItLives));
    if (page.waitingForMouse) {
        setSymbol(statusIcon_, QStringLiteral("circle.dashed"), SystemColor::secondary);
    } else if (page.bothOn) {
        setSymbol(statusIcon_, QStringLiteral("checkmark.circle.fill"), SystemColor::green);
    } else {
        setSymbol(statusIcon_, QStringLiteral("exclamationmark.triangle.fill"), SystemColor::orange);
    }
    {
        const QSignalBlocker quiet(login_);
        login_->setChecked(page.loginSwitchOn);
    }
    loginSentence_->setText(qtText(page.loginSentence));
    refusal_->setText(page.refusal ? qtText(*page.refusal) : QString());
    refusal_->setVisible(page.refusal.has_value());
    comeBack_->setText(page.comeBackLater ? qtText(*page.comeBackLater) : QString());
    comeBack_->setVisible(page.comeBackLater.has_value());
}

// ---- The window ----

OnboardingWindow::OnboardingWindow(std::shared_ptr<AppModel> model, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint),
      flow_(std::move(model), [this] { close(); }) {
    setObjectName(QStringLiteral("set-up-window"));
    setWindowTitle(QStringLiteral("Set Up Ravolet"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* header = new QHBoxLayout();
    header->setContentsMargins(20, 20, 20, 20);
    header->setSpacing(12);
    header->addWidget(symbol(QStringLiteral("computermouse.fill"), 28, SystemColor::accent, this), 0, Qt::AlignVCenter);
    auto* titles = new QVBoxLayout();
    titles->setSpacing(2);
    title_ = paragraph(QString(), this, TextStyle::title2);
    counter_ = paragraph(QString(), this, TextStyle::caption, SystemColor::secondary);
    titles->addWidget(title_);
    titles->addWidget(counter_);
    header->addLayout(titles, 1);
    column->addLayout(header);
    column->addWidget(divider(this));

    pages_ = new StepStack(this);
    pages_->addWidget(welcomePage(pages_, welcomeNextSteps_));
    inputMonitoring_ = new PermissionStepPage(OnboardingStep::inputMonitoring, pages_);
    accessibility_ = new PermissionStepPage(OnboardingStep::accessibility, pages_);
    closing_ = new ClosingStepPage(flow_.model(), pages_);
    pages_->addWidget(inputMonitoring_);
    pages_->addWidget(accessibility_);
    pages_->addWidget(closing_);
    // On a screen too low for the window the page scrolls between the
    // header and the buttons, which stay in view.
    pagesScroller_ = new QScrollArea(this);
    pagesScroller_->setFrameShape(QFrame::NoFrame);
    pagesScroller_->setWidgetResizable(true);
    pagesScroller_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    pagesScroller_->setWidget(pages_);
    focusAsOne(pagesScroller_);
    column->addWidget(pagesScroller_, 1);
    column->addWidget(divider(this));

    auto* footer = new QHBoxLayout();
    footer->setContentsMargins(16, 16, 16, 16);
    back_ = new QPushButton(QStringLiteral("Back"), this);
    primary_ = new QPushButton(this);
    primary_->setDefault(true);
    primary_->setAutoDefault(true);
    applyProminentStyle(primary_);
    footer->addWidget(back_);
    footer->addStretch(1);
    footer->addWidget(primary_);
    column->addLayout(footer);
    connect(primary_, &QPushButton::clicked, this, [this] { flow_.advance(); });
    connect(back_, &QPushButton::clicked, this, [this] { flow_.back(); });

    poll_ = new QTimer(this);
    poll_->setInterval(OnboardingFlow::pollIntervalMilliseconds);
    connect(poll_, &QTimer::timeout, this, [this] { flow_.poll(); });

    fitHeightToTallestPage();
    const auto follow = [this](const auto&) { refresh(); };
    observeWhileAlive(this, flow_.step(), follow);
    observeWhileAlive(this, flow_.model().permissions(), follow);
    observeWhileAlive(this, flow_.model().launchAtLogin().status(), follow);
    observeWhileAlive(this, flow_.model().launchAtLogin().lastError(), follow);
    observeWhileAlive(this, flow_.model().hasTray(), follow);
    refresh();
}

OnboardingWindow::~OnboardingWindow() = default;

void OnboardingWindow::fitHeightToTallestPage() {
    // 560 by 440, in proportion more in a larger font, and higher still where
    // a page needs it to show every sentence whole; measured with the longest
    // texts shown.
    const int width = fontScaled(560, font());
    inputMonitoring_->refresh(PermissionState{false, false, HIDPPInputMonitoringAccess::denied, {"/dev/uinput"},
                                              {"/dev/input/event10", "/dev/input/event11", "/dev/hidraw10"}});
    PermissionState noModule{false, false, HIDPPInputMonitoringAccess::denied, {"/dev/uinput"}, {}};
    noModule.postingDeviceMissing = true; // two commands
    accessibility_->refresh(noModule);
    closing_->refresh(PermissionState{});
    // Measured beside the scroll bar, so that the tallest page fits whether
    // or not the bar shows.
    const int pageWidth = width - pagesScroller_->verticalScrollBar()->sizeHint().width();
    int tallest = 0;
    for (int i = 0; i < pages_->count(); ++i) {
        QLayout* layout = pages_->widget(i)->layout();
        tallest = std::max(tallest, layout->hasHeightForWidth() ? layout->totalHeightForWidth(pageWidth)
                                                                : layout->totalSizeHint().height());
    }
    const int chrome = layout()->totalSizeHint().height() - pagesScroller_->sizeHint().height();
    // Never taller than the screen allows; the page scrolls then.
    setFixedSize(fittedToScreen(*this, QSize(width, std::max(fontScaled(440, font()), chrome + tallest)),
                                QSize(320, chrome + 120)));
}

bool OnboardingWindow::isPolling() const { return poll_->isActive(); }

void OnboardingWindow::keyPressEvent(QKeyEvent* event) {
    const bool plain = !(event->modifiers() & ~Qt::KeypadModifier);
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && plain && primary_->isVisible() && primary_->isEnabled()) {
        primary_->click();
        return;
    }
    // As an assistant on the desktop closes: as the close button does, on any
    // step, without finishing.
    if (event->key() == Qt::Key_Escape && plain) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void OnboardingWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!poll_->isActive()) {
        // Coming back, not merely raised: on the page that still needs doing.
        flow_.reopen();
        flow_.poll();
        poll_->start();
    }
}

void OnboardingWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    poll_->stop();
}

void OnboardingWindow::refresh() {
    const OnboardingStep step = flow_.step().value();
    title_->setText(qtText(headerTitle(step, flow_.model().permissions().value())));
    // A Tab stop of its own (its keys scroll the page): named for the page.
    renameForReaders(pagesScroller_, title_->text());
    counter_->setText(qtText(stepCounter(step)));
    primary_->setText(qtText(primaryButtonTitle(step)));
    back_->setVisible(showsBack(step));
    const PermissionState& permissions = flow_.model().permissions().value();
    welcomeNextSteps_->setText(qtText(welcomeNextSteps(permissions)));
    inputMonitoring_->refresh(permissions);
    accessibility_->refresh(permissions);
    closing_->refresh(permissions);
    pages_->setCurrentIndex(static_cast<int>(step));
    pages_->updateGeometry();
}

// ---- The presenter ----

void OnboardingPresenter::show(const std::shared_ptr<AppModel>& model) {
    if (!window_) {
        window_ = std::make_unique<OnboardingWindow>(model);
        window_->setAttribute(Qt::WA_DeleteOnClose, false);
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
}

} // namespace ravolet
