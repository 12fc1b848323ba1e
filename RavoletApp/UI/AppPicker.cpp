#include "RavoletApp/UI/AppPicker.hpp"

#include <QMenu>
#include <QStyle>

#include "RavoletApp/UI/ApplicationChooser.hpp"
#include "RavoletApp/UI/Style.hpp"
#include "RavoletApp/UI/SymbolIcon.hpp"

namespace ravolet {

namespace {

std::optional<QString> runModally(ApplicationChooser& chooser) {
    chooser.exec();
    return chooser.chosenBundleID();
}

} // namespace

AppPickerButton::AppPickerButton(std::shared_ptr<AppModel> model, const QString& title, AppChoicePlace place,
                                 QWidget* parent)
    : QToolButton(parent), model_(std::move(model)), place_(place), runner_(&runModally) {
    setText(title);
    setToolButtonStyle(Qt::ToolButtonTextOnly);
    setPopupMode(QToolButton::InstantPopup);
    setAutoRaise(true);
    // Room for the menu's arrow beside the title.
    setStyleSheet(QStringLiteral("QToolButton { padding-right: 12px; }"));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    menu_ = new QMenu(this);
    setMenu(menu_);
    connect(menu_, &QMenu::aboutToShow, this, &AppPickerButton::refreshRunningApps);
    // Until the menu first opens, it offers the chooser alone.
    menu_->addAction(chooseInstalledTitle(), this, &AppPickerButton::chooseInstalled);
}

QString AppPickerButton::chooserTitle(AppChoicePlace place) {
    switch (place) {
    case AppChoicePlace::rule: return QStringLiteral("Choose the App for This Rule");
    case AppChoicePlace::launchAction: return QStringLiteral("Choose the App This Button Opens");
    }
    return QStringLiteral("Choose an App");
}

QString AppPickerButton::chooserMessage(AppChoicePlace place) {
    switch (place) {
    case AppChoicePlace::rule: return QStringLiteral("Pick the app this rule should apply to.");
    case AppChoicePlace::launchAction: return QStringLiteral("Pick the app this button should open.");
    }
    return {};
}

void AppPickerButton::refreshRunningApps() {
    running_ = AppInfo::runningApps(*model_);
    menu_->clear();
    menu_->addAction(chooseInstalledTitle(), this, &AppPickerButton::chooseInstalled);
    if (running_.empty()) return;
    menu_->addSection(runningSectionTitle());
    for (const AppInfo& app : running_) {
        // An "&" in a name is text, not a keyboard accelerator.
        const QString label = QString::fromStdString(app.name).replace(QLatin1Char('&'), QStringLiteral("&&"));
        const QString bundleID = QString::fromStdString(app.bundleID);
        menu_->addAction(label, this, [this, bundleID] { Q_EMIT chosen(bundleID); });
    }
}

void AppPickerButton::chooseInstalled() {
    ApplicationChooser chooser(installedApplications(*model_->dependencies().applications), chooserTitle(place_),
                               chooserMessage(place_), window());
    const auto bundleID = runner_(chooser);
    if (bundleID && !bundleID->isEmpty()) Q_EMIT chosen(*bundleID);
}

AppIconView::AppIconView(std::shared_ptr<AppModel> model, int size, QWidget* parent)
    : QLabel(parent), model_(std::move(model)), size_(fontScaled(size, font())) {
    setFixedSize(size_, size_);
    setAlignment(Qt::AlignCenter);
    setAccessibleName(QString());
    setBundleID(QString());
}

void AppIconView::setBundleID(const QString& bundleID) {
    bundleID_ = bundleID;
    const auto installed = model_->dependencies().applications->application(bundleID.toStdString());
    placeholder_ = !installed;
    const qreal ratio = devicePixelRatioF();
    if (installed) {
        setPixmap(applicationIcon(installed->icon, style()).pixmap(QSize(size_, size_), ratio));
    } else {
        setPixmap(symbolPixmap(QStringLiteral("questionmark.app.dashed"), size_,
                               systemColor(SystemColor::secondary, palette()), ratio));
    }
}

} // namespace ravolet
