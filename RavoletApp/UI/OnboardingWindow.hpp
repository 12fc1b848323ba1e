#pragma once

#include <QWidget>

#include <memory>
#include <vector>

#include "RavoletApp/Model/AppModel.hpp"
#include "RavoletApp/ViewModels/OnboardingFlow.hpp"

class QCheckBox;
class QLabel;
class QPushButton;
class QScrollArea;
class QStackedWidget;
class QTimer;

namespace ravolet {

class CommandLine;
class CommandList;
class PermissionStepPage;
class ClosingStepPage;
class ShellExtensionSection;

// The set-up window: a welcome page, one page per grant and a closing page
// with the start-at-login switch. It is 560 by 440 (taller where the fonts
// need it), never beyond the screen's free area. While it is on screen it
// reads the grants every 0.6 s and moves on by itself when the grant of the
// page shown arrives. Closing it only hides it: it comes back on the page
// where it was left.
class OnboardingWindow : public QWidget {
    Q_OBJECT
public:
    explicit OnboardingWindow(std::shared_ptr<AppModel> model, QWidget* parent = nullptr);
    ~OnboardingWindow() override;

    OnboardingFlow& flow() { return flow_; }
    bool isPolling() const;

    QLabel* titleLabel() const { return title_; }
    QLabel* counterLabel() const { return counter_; }
    QLabel* welcomeNextStepsLabel() const { return welcomeNextSteps_; }
    QPushButton* primaryButton() const { return primary_; }
    QPushButton* backButton() const { return back_; }
    QStackedWidget* pages() const { return pages_; }
    // Around the pages: it scrolls only where the screen is too low for the window.
    QScrollArea* pageScroller() const { return pagesScroller_; }
    PermissionStepPage* inputMonitoringPage() const { return inputMonitoring_; }
    PermissionStepPage* accessibilityPage() const { return accessibility_; }
    ClosingStepPage* closingPage() const { return closing_; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    // Enter goes on a step, as in a dialog (a plain widget has no default
    // button), and Escape closes the window.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void refresh();
    void fitHeightToTallestPage();

    OnboardingFlow flow_;
    QLabel* title_ = nullptr;
    QLabel* counter_ = nullptr;
    QLabel* welcomeNextSteps_ = nullptr;
    QPushButton* primary_ = nullptr;
    QPushButton* back_ = nullptr;
    QStackedWidget* pages_ = nullptr;
    QScrollArea* pagesScroller_ = nullptr;
    PermissionStepPage* inputMonitoring_ = nullptr;
    PermissionStepPage* accessibility_ = nullptr;
    ClosingStepPage* closing_ = nullptr;
    QTimer* poll_ = nullptr;
};

// A page for one grant: its status, why it is needed, and while it is
// missing, how to give it.
class PermissionStepPage : public QWidget {
    Q_OBJECT
public:
    PermissionStepPage(OnboardingStep step, QWidget* parent = nullptr);
    void refresh(const PermissionState& permissions);

    QLabel* statusLabel() const { return status_; }
    QLabel* extraLabel() const { return extra_; }
    QWidget* howToBlock() const { return howToBlock_; }
    QLabel* howToLabel() const { return howTo_; }
    const std::vector<CommandLine*>& commandLines() const;
    QLabel* closedNodesLabel() const { return closedNodes_; }
    QLabel* watchingLabel() const { return watching_; }

private:
    const OnboardingStep step_;
    QLabel* statusIcon_ = nullptr;
    QLabel* status_ = nullptr;
    QLabel* extra_ = nullptr;
    QWidget* howToBlock_ = nullptr;
    QLabel* howTo_ = nullptr; // follows the grants: it names the nodes still closed
    CommandList* commands_ = nullptr;
    QLabel* closedNodes_ = nullptr;
    QLabel* watching_ = nullptr;
};

// The last page: whether both grants are on, starting at login, and on
// GNOME the offer of Ravolet's GNOME Shell extension.
class ClosingStepPage : public QWidget {
    Q_OBJECT
public:
    explicit ClosingStepPage(AppModel& model, QWidget* parent = nullptr);
    void refresh(const PermissionState& permissions);

    QLabel* statusLabel() const { return status_; }
    QLabel* whereToFixLabel() const { return whereToFix_; }
    QLabel* whereItLivesLabel() const { return whereItLives_; }
    QCheckBox* loginSwitch() const { return login_; }
    QLabel* loginSentence() const { return loginSentence_; }
    QLabel* refusalLabel() const { return refusal_; }
    QLabel* comeBackLabel() const { return comeBack_; }
    ShellExtensionSection* shellExtensionSection() const { return shellExtension_; }

private:
    AppModel& model_;
    QLabel* statusIcon_ = nullptr;
    QLabel* status_ = nullptr;
    QLabel* whereToFix_ = nullptr;
    QLabel* whereItLives_ = nullptr;
    QCheckBox* login_ = nullptr;
    QLabel* loginSentence_ = nullptr;
    QLabel* refusal_ = nullptr;
    QLabel* comeBack_ = nullptr;
    ShellExtensionSection* shellExtension_ = nullptr;
};

// Owns the one set-up window: builds it on the first show and brings the
// same window, on the page where it was left, to the front on every show.
class OnboardingPresenter {
public:
    void show(const std::shared_ptr<AppModel>& model);
    OnboardingWindow* window() const { return window_.get(); }

private:
    std::unique_ptr<OnboardingWindow> window_;
};

} // namespace ravolet
