#pragma once

#include <QLabel>
#include <QString>
#include <QToolButton>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "RavoletApp/Model/AppModel.hpp"
#include "RavoletApp/ViewModels/AppInfo.hpp"

class QMenu;

namespace ravolet {
class ApplicationChooser;
}

namespace ravolet {

// Where an application is picked, which the chooser's title and sentence name.
enum class AppChoicePlace { rule, launchAction };

// A borderless menu button that names an application by its bundle
// identifier: "Choose from your Applications folder…" opens the chooser of
// installed applications (ApplicationChooser), titled for the place it was
// opened from, and a "Running Now" section lists the ordinary applications
// running, refreshed each time the menu opens. A choice is announced through
// chosen(); a cancelled chooser announces nothing. Names and icons come from
// the model's one application catalogue, as everywhere else.
class AppPickerButton : public QToolButton {
    Q_OBJECT
public:
    // Shows the chooser and gives what was chosen (the program runs it modally).
    using ChooserRunner = std::function<std::optional<QString>(ApplicationChooser& chooser)>;

    AppPickerButton(std::shared_ptr<AppModel> model, const QString& title, AppChoicePlace place,
                    QWidget* parent = nullptr);

    static QString chooseInstalledTitle() { return QStringLiteral("Choose from your installed applications…"); }
    static QString runningSectionTitle() { return QStringLiteral("Running Now"); }
    // The chooser's window title and the sentence above its list.
    static QString chooserTitle(AppChoicePlace place);
    static QString chooserMessage(AppChoicePlace place);

    // The running applications as last listed (empty until the menu opens).
    const std::vector<AppInfo>& running() const { return running_; }
    void refreshRunningApps();
    // Runs the chooser of installed applications and announces the choice.
    void chooseInstalled();
    // Replaces running the dialog (tests work the chooser themselves).
    void setChooserRunner(ChooserRunner runner) { runner_ = std::move(runner); }

Q_SIGNALS:
    void chosen(const QString& bundleID);

private:
    std::shared_ptr<AppModel> model_;
    const AppChoicePlace place_;
    QMenu* menu_ = nullptr;
    std::vector<AppInfo> running_;
    ChooserRunner runner_;
};

// An application's icon, `size` pixels square: the icon its desktop entry
// names, or the dashed question-mark symbol in the secondary colour when no
// installed application has the identifier.
class AppIconView : public QLabel {
    Q_OBJECT
public:
    AppIconView(std::shared_ptr<AppModel> model, int size, QWidget* parent = nullptr);

    void setBundleID(const QString& bundleID);
    const QString& bundleID() const { return bundleID_; }
    // Whether the identifier is unknown and the question mark shows.
    bool showsPlaceholder() const { return placeholder_; }

private:
    std::shared_ptr<AppModel> model_;
    int size_;
    QString bundleID_;
    bool placeholder_ = true;
};

} // namespace ravolet
