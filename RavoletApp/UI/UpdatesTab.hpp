#pragma once

#include <QWidget>

#include <memory>

#include "RavoletApp/Model/AppModel.hpp"

class QCheckBox;
class QLabel;
class QPushButton;

namespace ravolet {

class FactRow;

// The Updates page: the switch for automatic checks, a check now with the
// running version, the date of the last check and the feed, and how updates
// are trusted. The updater's own values are read again whenever the page
// comes on screen and after a check is asked for. For a build that does not
// update itself (one the package manager updates), only the switch, off and
// disabled, with what updates it, and the running version: the check, its
// facts and the trust section are not built, and their accessors give null.
class UpdatesTab : public QWidget {
    Q_OBJECT
public:
    explicit UpdatesTab(std::shared_ptr<AppModel> model, QWidget* parent = nullptr);

    QCheckBox* automaticChecksBox() const { return automatic_; }
    QWidget* automaticChecksReset() const { return automaticReset_; }
    QPushButton* checkButton() const { return check_; }
    QLabel* checkUnderWayLabel() const { return underWay_; }
    FactRow* versionFact() const { return version_; }
    FactRow* lastCheckedFact() const { return lastChecked_; }
    FactRow* feedFact() const { return feed_; }

    // Reads the switch and the updater's values into the controls.
    void refresh();

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::shared_ptr<AppModel> model_;
    QCheckBox* automatic_ = nullptr;
    QWidget* automaticReset_ = nullptr;
    QPushButton* check_ = nullptr;
    QLabel* underWay_ = nullptr;
    FactRow* version_ = nullptr;
    FactRow* lastChecked_ = nullptr;
    FactRow* feed_ = nullptr;
};

} // namespace ravolet
