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

// A borderless menu button that names an application by its bundle
// identifier: "Choose from your Applications folder…" opens a file chooser on
// the applications folder that takes a desktop entry, and a "Running Now"
// section lists the ordinary applications running, refreshed each time the
// menu opens. A choice is announced through chosen(); a cancelled chooser or a
// file that is no application's entry announces nothing.
class AppPickerButton : public QToolButton {
    Q_OBJECT
public:
    // Asks the user for a file, starting in `folder`; none when cancelled.
    using FileChooser = std::function<std::optional<QString>(QWidget* parent, const QString& folder)>;

    AppPickerButton(std::shared_ptr<AppModel> model, const QString& title, QWidget* parent = nullptr);

    static QString chooseFromDiskTitle() { return QStringLiteral("Choose from your Applications folder…"); }
    static QString runningSectionTitle() { return QStringLiteral("Running Now"); }
    static QString chooserMessage() { return QStringLiteral("Pick the app this rule should apply to."); }

    // The running applications as last listed (empty until the menu opens).
    const std::vector<AppInfo>& running() const { return running_; }
    void refreshRunningApps();
    // Runs the file chooser and announces the chosen entry's application.
    void chooseFromDisk();
    // Replaces the file dialog (tests script the choice).
    void setFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }

Q_SIGNALS:
    void chosen(const QString& bundleID);

private:
    std::shared_ptr<AppModel> model_;
    QMenu* menu_ = nullptr;
    std::vector<AppInfo> running_;
    FileChooser chooser_;
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
