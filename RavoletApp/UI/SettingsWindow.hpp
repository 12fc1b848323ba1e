#pragma once

#include <QSize>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "RavoletApp/Model/AppModel.hpp"
#include "RavoletApp/UI/ProfileScope.hpp"
#include "RavoletApp/ViewModels/SettingsBanners.hpp"
#include "RavoletApp/ViewModels/SettingsTab.hpp"

class QPushButton;
class QStackedWidget;
class QVBoxLayout;

namespace ravolet {

class NoticeBanner;
class SettingsTabBar;

// The settings window: the tab strip, the banners (an unusable settings
// file, failed saves and a preferences file set aside, missing grants, the
// user's pause) with their remedies, and one page
// per tab. Every page is built once, with the window; choosing a tab shows
// its page and titles the window after it ("Scroll — Ravolet"). The window
// owns the profile selection that the profile pages and the Profiles page
// share.
//
// It opens at the size it was designed for, or smaller where the screen is,
// and can be resized down to a minimum that keeps every page usable (the
// pages scroll). From the keyboard, Ctrl+Tab and Ctrl+PgDn show the next
// page and Ctrl+Shift+Tab and Ctrl+PgUp the previous one, going round; Tab
// goes through the strip, the banners and the page from top to bottom.
// Ctrl+Q asks to quit Ravolet; where the desktop has no tray (and so no menu
// to quit from), a "Quit Ravolet" button beside the strip asks the same.
class SettingsWindow : public QWidget {
    Q_OBJECT
public:
    // finishSetUp opens the set-up window ("Finish Setting Up…").
    SettingsWindow(std::shared_ptr<AppModel> model, std::function<void()> finishSetUp, QWidget* parent = nullptr);

    // The size of the pages' own area the window was designed around; the
    // strip and the banners come on top.
    static constexpr QSize designedPageArea{760, 640};
    // The least height left to a page, whatever the banners take.
    static constexpr int minimumPageHeight = 240;

    SettingsTab selectedTab() const { return selectedTab_; }
    void selectTab(SettingsTab tab);

    // The page of a tab, as built with the window (inside its scroll area).
    QWidget* page(SettingsTab tab) const { return pages_[static_cast<std::size_t>(position(tab))]; }
    QStackedWidget* pageHost() const { return pageHost_; }
    SettingsTabBar* tabBar() const { return tabBar_; }
    QPushButton* quitButton() const { return quit_; }
    const std::vector<NoticeBanner*>& banners() const { return bannerWidgets_; }
    const std::shared_ptr<ProfileSelection>& profileSelection() const { return selection_; }

Q_SIGNALS:
    void closed();
    void quitRequested();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void addPageShortcuts();
    void addQuitCommand(QWidget* stripRow);
    void updateMinimumSize();
    void refreshBanners();
    void perform(SettingsBanner::Action action);

    const std::shared_ptr<AppModel> model_;
    const std::function<void()> finishSetUp_;
    const std::shared_ptr<ProfileSelection> selection_;
    SettingsTab selectedTab_ = SettingsTab::scroll;
    SettingsTabBar* tabBar_ = nullptr;
    QPushButton* quit_ = nullptr;
    QWidget* bannerColumn_ = nullptr;
    QVBoxLayout* bannerLayout_ = nullptr;
    QStackedWidget* pageHost_ = nullptr;
    std::array<QWidget*, allSettingsTabs.size()> pages_{};
    // The strip and the rule under it.
    int chromeHeight_ = 0;
    bool minimumSizePending_ = false;
    std::vector<SettingsBanner> shownBanners_;
    std::vector<NoticeBanner*> bannerWidgets_;
};

} // namespace ravolet
