#include "RavoletApp/UI/AppPicker.hpp"

#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QStyle>

#include "RavoletApp/UI/Style.hpp"
#include "RavoletApp/UI/SymbolIcon.hpp"

namespace ravolet {

namespace {

std::optional<QString> chooseWithDialog(QWidget* parent, const QString& folder) {
    QFileDialog dialog(parent, AppPickerButton::chooserMessage(), folder,
                       QStringLiteral("Applications (*.desktop)"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setLabelText(QFileDialog::Accept, QStringLiteral("Choose"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().front();
}

// The icon a desktop entry names: a file, or a name in the icon theme; the
// theme's generic program icon when neither gives one.
QIcon entryIcon(const std::string& icon, const QStyle* style) {
    const QString name = QString::fromStdString(icon);
    if (!name.isEmpty()) {
        if (QFileInfo(name).isAbsolute()) {
            if (QFileInfo::exists(name)) return QIcon(name);
        } else if (QIcon themed = QIcon::fromTheme(name); !themed.isNull()) {
            return themed;
        }
    }
    QIcon generic = QIcon::fromTheme(QStringLiteral("application-x-executable"));
    return generic.isNull() ? style->standardIcon(QStyle::SP_DesktopIcon) : generic;
}

} // namespace

AppPickerButton::AppPickerButton(std::shared_ptr<AppModel> model, const QString& title, QWidget* parent)
    : QToolButton(parent), model_(std::move(model)), chooser_(&chooseWithDialog) {
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
    menu_->addAction(chooseFromDiskTitle(), this, &AppPickerButton::chooseFromDisk);
}

void AppPickerButton::refreshRunningApps() {
    running_ = AppInfo::runningApps(*model_);
    menu_->clear();
    menu_->addAction(chooseFromDiskTitle(), this, &AppPickerButton::chooseFromDisk);
    if (running_.empty()) return;
    menu_->addSection(runningSectionTitle());
    for (const AppInfo& app : running_) {
        // An "&" in a name is text, not a keyboard accelerator.
        const QString label = QString::fromStdString(app.name).replace(QLatin1Char('&'), QStringLiteral("&&"));
        const QString bundleID = QString::fromStdString(app.bundleID);
        menu_->addAction(label, this, [this, bundleID] { Q_EMIT chosen(bundleID); });
    }
}

void AppPickerButton::chooseFromDisk() {
    const platform::ApplicationCatalogue& catalogue = *model_->dependencies().applications;
    const auto file = chooser_(window(), QString::fromStdString(catalogue.applicationsFolder().string()));
    if (!file || file->isEmpty()) return;
    if (auto bundleID = catalogue.bundleIDOfFile(file->toStdString())) Q_EMIT chosen(QString::fromStdString(*bundleID));
}

AppIconView::AppIconView(std::shared_ptr<AppModel> model, int size, QWidget* parent)
    : QLabel(parent), model_(std::move(model)), size_(size) {
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
        setPixmap(entryIcon(installed->icon, style()).pixmap(QSize(size_, size_), ratio));
    } else {
        setPixmap(symbolPixmap(QStringLiteral("questionmark.app.dashed"), size_,
                               systemColor(SystemColor::secondary, palette()), ratio));
    }
}

} // namespace ravolet
