#pragma once

#include <memory>

#include <QWidget>

#include "RavoletApp/Model/AppModel.hpp"

class QLabel;
class QProgressBar;
class QPushButton;

namespace ravolet {

class Explain;
class FactList;
class NoticeBanner;
class PageSection;
class StatusDot;

// The Device page: what the mouse reports about itself over HID++, what the
// engine is doing with the event stream, and what went wrong last. It only
// reads, except for re-reading the mouse: each time the page comes on screen
// and whenever the user presses Refresh.
class DeviceTab : public QWidget {
    Q_OBJECT
public:
    explicit DeviceTab(std::shared_ptr<AppModel> model, QWidget* parent = nullptr);

    NoticeBanner* permissionBanner() const { return permission_; }
    StatusDot* connectionLine() const { return connection_; }
    Explain* connectionExplanation() const { return connectionExplanation_; }
    FactList* connectionFacts() const { return connectionFacts_; }
    FactList* mouseSettingsFacts() const { return settingsFacts_; }
    QPushButton* refreshButton() const { return refresh_; }
    QProgressBar* refreshIndicator() const { return busy_; }
    QLabel* lastReadLabel() const { return lastRead_; }
    StatusDot* tapLine() const { return tap_; }
    FactList* activityFacts() const { return activityFacts_; }
    PageSection* compatibilitySection() const { return compatibility_; }
    PageSection* lastProblemSection() const { return lastProblemSection_; }
    QLabel* lastProblemLabel() const { return lastProblem_; }

protected:
    // Re-reads the mouse each time the page comes on screen.
    void showEvent(QShowEvent* event) override;

private:
    void build();
    void refresh();

    std::shared_ptr<AppModel> model_;

    NoticeBanner* permission_ = nullptr;
    StatusDot* connection_ = nullptr;
    Explain* connectionExplanation_ = nullptr;
    FactList* connectionFacts_ = nullptr;
    FactList* settingsFacts_ = nullptr;
    QPushButton* refresh_ = nullptr;
    QProgressBar* busy_ = nullptr;
    QLabel* lastRead_ = nullptr;
    StatusDot* tap_ = nullptr;
    FactList* activityFacts_ = nullptr;
    PageSection* compatibility_ = nullptr;
    NoticeBanner* compatibilityBanner_ = nullptr;
    PageSection* lastProblemSection_ = nullptr;
    QLabel* lastProblem_ = nullptr;
};

} // namespace ravolet
