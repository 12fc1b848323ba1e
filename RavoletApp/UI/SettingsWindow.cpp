#include "RavoletApp/UI/SettingsWindow.hpp"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QFrame>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "RavoletApp/UI/ModelObserver.hpp"
#include "RavoletApp/UI/NoticeBanner.hpp"
#include "RavoletApp/UI/QtText.hpp"
#include "RavoletApp/UI/SettingsPages.hpp"
#include "RavoletApp/UI/SettingsTabBar.hpp"
#include "RavoletApp/UI/Style.hpp"

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
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    tabBar_ = new SettingsTabBar(this);
    column->addWidget(tabBar_);
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
        scroller->setWidgetResizable(true);
        scroller->setFrameShape(QFrame::NoFrame);
        scroller->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        QWidget* content = makeSettingsPage(tab, model_, selection_, nullptr);
        scroller->setWidget(content);
        pages_[static_cast<std::size_t>(position(tab))] = content;
        pageHost_->addWidget(scroller);
    }
    column->addWidget(pageHost_, 1);

    // The pages' own area is 760 by 640; the strip sits above it.
    setFixedSize(760, 640 + tabBar_->sizeHint().height() + rule->sizeHint().height());
    connect(tabBar_, &SettingsTabBar::selected, this, &SettingsWindow::selectTab);
    selectTab(SettingsTab::scroll);

    const auto refresh = [this](const auto&) { refreshBanners(); };
    observeWhileAlive(this, model_->store().problem(), refresh);
    observeWhileAlive(this, model_->permissions(), refresh);
    modelConnections(this).keep(model_->preferences().isPausedByUser.observe(refresh));
    refreshBanners();
}

void SettingsWindow::selectTab(SettingsTab tab) {
    selectedTab_ = tab;
    tabBar_->setSelection(tab);
    // Only a different page is switched to; the pages themselves stay.
    if (pageHost_->currentIndex() != position(tab)) pageHost_->setCurrentIndex(position(tab));
    setWindowTitle(qtText(title(tab)));
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
                                  model_->permissions().value(), model_->preferences().isPausedByUser.value());
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
}

void SettingsWindow::perform(SettingsBanner::Action action) {
    switch (action) {
    case SettingsBanner::Action::readAgain: model_->readConfigAgain(); break;
    case SettingsBanner::Action::startFresh: model_->startFreshConfig(); break;
    case SettingsBanner::Action::showFile:
        // The folder that holds the file: Linux file managers have no common
        // way to be asked to select one file.
        QDesktopServices::openUrl(
            QUrl::fromLocalFile(qtText(model_->store().fileURL.parent_path().string())));
        break;
    case SettingsBanner::Action::finishSetUp:
        if (finishSetUp_) finishSetUp_();
        break;
    case SettingsBanner::Action::resume: model_->setPausedByUser(false); break;
    }
}

} // namespace ravolet
