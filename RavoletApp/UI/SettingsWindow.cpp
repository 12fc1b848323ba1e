#include "RavoletApp/UI/SettingsWindow.hpp"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QStackedWidget>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include "RavoletApp/UI/AccessibleName.hpp"
#include "RavoletApp/UI/ModelObserver.hpp"
#include "RavoletApp/UI/NoticeBanner.hpp"
#include "RavoletApp/UI/QtText.hpp"
#include "RavoletApp/UI/ReadingOrder.hpp"
#include "RavoletApp/UI/ScreenFit.hpp"
#include "RavoletApp/UI/SettingsPages.hpp"
#include "RavoletApp/UI/SettingsTabBar.hpp"
#include "RavoletApp/UI/Style.hpp"
#include "RavoletApp/UI/WheelGuard.hpp"
#include "RavoletApp/ViewModels/ShellRules.hpp"

namespace ravolet {

namespace {

NoticeBanner::Kind bannerKind(SettingsBanner::Kind kind) {
    switch (kind) {
    case SettingsBanner::Kind::informational: return NoticeBanner::Kind::informational;
    case SettingsBanner::Kind::warning: return NoticeBanner::Kind::warning;
    case SettingsBanner::Kind::problem: return NoticeBanner::Kind::problem;
    }
    return NoticeBanner::Kind::informational;
}

} // namespace

SettingsWindow::SettingsWindow(std::shared_ptr<AppModel> model, std::function<void()> finishSetUp, QWidget* parent)
    : QWidget(parent, Qt::Window),
      model_(std::move(model)),
      finishSetUp_(std::move(finishSetUp)),
      selection_(std::make_shared<ProfileSelection>(std::string(Profile::defaultProfileID))) {
    setObjectName(QStringLiteral("settings-window"));
    // Before the first control is made: the wheel edits no setting it passes over.
    installWheelGuard();
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* stripRow = new QWidget(this);
    tabBar_ = new SettingsTabBar(stripRow);
    addQuitCommand(stripRow);
    column->addWidget(stripRow);
    auto* rule = new QFrame(this);
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);
    column->addWidget(rule);

    bannerColumn_ = new QWidget(this);
    bannerLayout_ = new QVBoxLayout(bannerColumn_);
    bannerLayout_->setSpacing(8);
    bannerLayout_->setContentsMargins(16, 0, 16, 0);
    bannerColumn_->hide();
    column->addWidget(bannerColumn_);

    pageHost_ = new QStackedWidget(this);
    for (SettingsTab tab : allSettingsTabs) {
        auto* scroller = new QScrollArea(pageHost_);
        // A Tab stop of its own (its keys scroll the page): named for the page.
        scroller->setAccessibleName(qtText(title(tab)) + QStringLiteral(" page"));
        scroller->setWidgetResizable(true);
        scroller->setFrameShape(QFrame::NoFrame);
        scroller->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        QWidget* content = makeSettingsPage(tab, model_, selection_, nullptr);
        scroller->setWidget(content);
        focusAsOne(scroller);
        // A page whose rows change may need another minimum width.
        content->installEventFilter(this);
        pages_[static_cast<std::size_t>(position(tab))] = content;
        pageHost_->addWidget(scroller);
    }
    column->addWidget(pageHost_, 1);

    chromeHeight_ = stripRow->sizeHint().height() + rule->sizeHint().height();
    connect(tabBar_, &SettingsTabBar::selected, this, &SettingsWindow::selectTab);
    selectTab(SettingsTab::scroll);
    addPageShortcuts();

    const auto refresh = [this](const auto&) { refreshBanners(); };
    observeWhileAlive(this, model_->store().problem(), refresh);
    observeWhileAlive(this, model_->storageNotices(), refresh);
    observeWhileAlive(this, model_->permissions(), refresh);
    modelConnections(this).keep(model_->preferences().isPausedByUser.observe(refresh));
    refreshBanners();
    updateMinimumSize();
    resize(fittedToScreen(*this, fontScaled(designedPageArea, font()) + QSize(0, chromeHeight_), minimumSize()));
}

void SettingsWindow::addPageShortcuts() {
    const auto step = [this](int steps) { selectTab(tabAfter(selectedTab_, steps)); };
    auto* next = new QShortcut(this);
    next->setKeys({QKeySequence(Qt::CTRL | Qt::Key_Tab), QKeySequence(Qt::CTRL | Qt::Key_PageDown)});
    connect(next, &QShortcut::activated, this, [step] { step(1); });
    auto* previous = new QShortcut(this);
    // X11 reports Shift+Tab as Backtab.
    previous->setKeys({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), QKeySequence(Qt::CTRL | Qt::Key_PageUp)});
    connect(previous, &QShortcut::activated, this, [step] { step(-1); });
}

void SettingsWindow::addQuitCommand(QWidget* stripRow) {
    auto* row = new QHBoxLayout(stripRow);
    row->setContentsMargins(0, 0, 12, 0);
    row->setSpacing(0);
    quit_ = new QPushButton(qtText(ShellRules::quitTitle), stripRow);
    quit_->setToolTip(QStringLiteral("%1 (%2)").arg(qtText(ShellRules::quitTitle), qtText(ShellRules::quitShortcut)));
    // An empty space as wide as the button on the other side keeps the tabs
    // in the middle of the window.
    auto* balance = new QWidget(stripRow);
    balance->setFixedWidth(quit_->sizeHint().width() + 12);
    row->addWidget(balance);
    row->addWidget(tabBar_, 1);
    row->addWidget(quit_, 0, Qt::AlignVCenter);
    connect(quit_, &QPushButton::clicked, this, &SettingsWindow::quitRequested);
    const auto follow = [quit = quit_, balance](bool hasTray) {
        quit->setVisible(!hasTray);
        balance->setVisible(!hasTray);
    };
    follow(model_->hasTray().value());
    observeWhileAlive(this, model_->hasTray(), follow);
    auto* shortcut = new QShortcut(QKeySequence(qtText(ShellRules::quitShortcut)), this);
    connect(shortcut, &QShortcut::activated, this, &SettingsWindow::quitRequested);
}

bool SettingsWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::LayoutRequest && !minimumSizePending_) {
        minimumSizePending_ = true;
        QTimer::singleShot(0, this, [this] { updateMinimumSize(); });
    }
    return QWidget::eventFilter(watched, event);
}

void SettingsWindow::updateMinimumSize() {
    minimumSizePending_ = false;
    // As narrow as the widest page's own minimum (the pages never scroll
    // sideways) and its scroll bar; as low as the strip, the banners at that
    // width and a useful piece of page.
    int width = tabBar_->parentWidget()->minimumSizeHint().width();
    for (int i = 0; i < pageHost_->count(); ++i) {
        const auto* scroller = static_cast<QScrollArea*>(pageHost_->widget(i));
        width = std::max(width, scroller->widget()->minimumSizeHint().width() +
                                    scroller->verticalScrollBar()->sizeHint().width());
    }
    int banners = 0;
    if (!bannerWidgets_.empty()) {
        banners = bannerColumn_->layout()->hasHeightForWidth() ? bannerColumn_->layout()->totalHeightForWidth(width)
                                                               : bannerColumn_->sizeHint().height();
    }
    setMinimumSize(width, chromeHeight_ + banners + minimumPageHeight);
}

bool SettingsWindow::focusNextPrevChild(bool next) {
    return moveFocusInReadingOrder(this, next) || QWidget::focusNextPrevChild(next);
}

void SettingsWindow::selectTab(SettingsTab tab) {
    selectedTab_ = tab;
    tabBar_->setSelection(tab);
    // Only a different page is switched to; the pages themselves stay.
    if (pageHost_->currentIndex() != position(tab)) pageHost_->setCurrentIndex(position(tab));
    setWindowTitle(qtText(ravolet::windowTitle(tab)));
}

void SettingsWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    selection_->set(fixedProfileSelection(model_->config().value(), selection_->value(),
                                          model_->status().value().activeProfileID));
}

void SettingsWindow::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    if (event->isAccepted()) Q_EMIT closed();
}

void SettingsWindow::refreshBanners() {
    auto wanted = settingsBanners(model_->store().problem().value(), model_->store().fileURL,
                                  model_->permissions().value(), model_->preferences().isPausedByUser.value(),
                                  model_->storageNotices().value());
    if (wanted == shownBanners_) return;
    // A banner may be going away from under its own button's click.
    for (NoticeBanner* banner : bannerWidgets_) {
        banner->hide();
        banner->deleteLater();
    }
    bannerWidgets_.clear();
    for (const SettingsBanner& content : wanted) {
        auto* banner = new NoticeBanner(bannerKind(content.kind), qtText(content.title),
                                        qtText(content.message), bannerColumn_);
        for (const SettingsBanner::Button& entry : content.buttons) {
            QPushButton* button = banner->addButton(qtText(entry.title));
            if (entry.prominent) applyProminentStyle(button);
            connect(button, &QPushButton::clicked, this, [this, action = entry.action] { perform(action); });
        }
        bannerLayout_->addWidget(banner);
        bannerWidgets_.push_back(banner);
    }
    shownBanners_ = std::move(wanted);
    if (bannerWidgets_.empty()) {
        bannerLayout_->setContentsMargins(16, 0, 16, 0);
    } else {
        bannerLayout_->setContentsMargins(16, 12, 16, 4);
    }
    bannerColumn_->setVisible(!bannerWidgets_.empty());
    updateMinimumSize();
}

void SettingsWindow::perform(SettingsBanner::Action action) {
    switch (action) {
    case SettingsBanner::Action::readAgain: model_->readConfigAgain(); break;
    case SettingsBanner::Action::startFresh: model_->startFreshConfig(); break;
    case SettingsBanner::Action::startFromFactory: model_->startFreshConfig(AppModel::FreshStart::factorySettings); break;
    case SettingsBanner::Action::showFile:
        // The folder that holds the file: Linux file managers have no common
        // way to be asked to select one file.
        QDesktopServices::openUrl(
            QUrl::fromLocalFile(qtText(model_->store().fileURL.parent_path().string())));
        break;
    case SettingsBanner::Action::retrySave: model_->retrySaving(); break;
    case SettingsBanner::Action::dismissSetAside: model_->dismissPreferencesSetAside(); break;
    case SettingsBanner::Action::dismissNotKept: model_->dismissNotKeptFromWindow(); break;
    case SettingsBanner::Action::dismissUnsavedChanges: model_->dismissUnsavedChangesFile(); break;
    case SettingsBanner::Action::finishSetUp:
        if (finishSetUp_) finishSetUp_();
        break;
    case SettingsBanner::Action::resume: model_->setPausedByUser(false); break;
    }
}

} // namespace ravolet
