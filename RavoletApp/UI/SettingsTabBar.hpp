#pragma once

#include <QWidget>

#include <array>

#include "RavoletApp/ViewModels/SettingsTab.hpp"

class QToolButton;

namespace ravolet {

class ArrowKeyGroup;

// The strip of icon-and-title buttons over the settings pages, one per tab in
// order. The selected tab is drawn in the accent colour on a faint rounded
// fill with a thin border while the window is active; in an inactive window
// every tab takes the secondary colour and the border goes.
//
// From the keyboard the strip is one Tab stop, the selected tab, which shows
// the focus with an accent ring (only when the keyboard brought it there);
// Left and Right (and Home and End) move the focus along the strip, and Space
// or Enter chooses the focused tab. (The window's Ctrl+Tab and Ctrl+PgDn
// family switch pages from anywhere.)
class SettingsTabBar : public QWidget {
    Q_OBJECT
public:
    explicit SettingsTabBar(QWidget* parent = nullptr);
    ~SettingsTabBar() override;
    SettingsTabBar(const SettingsTabBar&) = delete;
    SettingsTabBar& operator=(const SettingsTabBar&) = delete;

    SettingsTab selection() const { return selection_; }
    // Shows the tab as selected; emits nothing.
    void setSelection(SettingsTab tab);
    QToolButton* button(SettingsTab tab) const { return buttons_[static_cast<std::size_t>(position(tab))]; }

Q_SIGNALS:
    // A click on a tab, also on the one already selected.
    void selected(SettingsTab tab);

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Sizes the buttons and their titles' font after the strip's font.
    void fitButtons();
    void refresh();

    std::array<QToolButton*, allSettingsTabs.size()> buttons_{};
    SettingsTab selection_ = SettingsTab::scroll;
    // The tab the keyboard brought the focus to, which shows the ring.
    QToolButton* ringed_ = nullptr;
    ArrowKeyGroup* keys_ = nullptr;
};

} // namespace ravolet
