#pragma once

#include <QWidget>

#include <array>

#include "RavoletApp/ViewModels/SettingsTab.hpp"

class QToolButton;

namespace ravolet {

// The strip of icon-and-title buttons over the settings pages, one per tab in
// order. The selected tab is drawn in the accent colour on a faint rounded
// fill with a thin border while the window is active; in an inactive window
// every tab takes the secondary colour and the border goes.
//
// From the keyboard: Tab reaches the buttons, which show the focus with an
// accent ring (only when the keyboard brought it there); Space or Enter
// chooses the focused tab; Left and Right move the focus along the strip.
// (The window's Ctrl+Tab and Ctrl+PgDn family switch pages from anywhere.)
class SettingsTabBar : public QWidget {
    Q_OBJECT
public:
    explicit SettingsTabBar(QWidget* parent = nullptr);

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
};

} // namespace ravolet
