#include "RavoletApp/UI/ApplicationChooser.hpp"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "RavoletApp/UI/QtText.hpp"
#include "RavoletApp/UI/ScreenFit.hpp"
#include "RavoletApp/UI/Style.hpp"

namespace ravolet {

namespace {

constexpr int bundleIDRole = Qt::UserRole;
constexpr int listIconSize = 24;

// Up and Down in the search field move through the list, so typing and then
// Enter picks without reaching for the mouse.
class SearchField final : public QLineEdit {
public:
    SearchField(QListWidget* list, QWidget* parent) : QLineEdit(parent), list_(list) {}

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down || event->key() == Qt::Key_PageUp ||
            event->key() == Qt::Key_PageDown) {
            QCoreApplication::sendEvent(list_, event);
            return;
        }
        QLineEdit::keyPressEvent(event);
    }

private:
    QListWidget* list_;
};

} // namespace

QIcon applicationIcon(const std::string& icon, const QStyle* style) {
    const QString name = qtText(icon);
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

ApplicationChooser::ApplicationChooser(std::vector<platform::DesktopApplication> applications, const QString& title,
                                       const QString& prompt, QWidget* parent)
    : QDialog(parent), prompt_(new QLabel(prompt, this)), list_(new QListWidget(this)) {
    setWindowTitle(title);
    search_ = new SearchField(list_, this);
    auto* column = new QVBoxLayout(this);
    column->setSpacing(10);
    prompt_->setWordWrap(true);
    prompt_->setTextFormat(Qt::PlainText);
    column->addWidget(prompt_);

    search_->setPlaceholderText(QStringLiteral("Search"));
    search_->setClearButtonEnabled(true);
    search_->setAccessibleName(QStringLiteral("Search the applications"));
    column->addWidget(search_);

    list_->setIconSize(QSize(listIconSize, listIconSize));
    list_->setUniformItemSizes(true);
    list_->setAccessibleName(QStringLiteral("Installed applications"));
    for (const platform::DesktopApplication& application : applications) {
        auto* item = new QListWidgetItem(applicationIcon(application.icon, style()), qtText(application.name), list_);
        item->setData(bundleIDRole, qtText(application.bundleID));
        item->setToolTip(qtText(application.bundleID));
    }
    column->addWidget(list_, 1);

    buttons_ = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    QPushButton* choose = buttons_->addButton(QStringLiteral("Choose"), QDialogButtonBox::AcceptRole);
    choose->setDefault(true);
    column->addWidget(buttons_);

    connect(search_, &QLineEdit::textChanged, this, &ApplicationChooser::filter);
    connect(list_, &QListWidget::itemSelectionChanged, this, &ApplicationChooser::selectionChanged);
    connect(list_, &QListWidget::itemActivated, this, [this] { accept(); });
    connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
    filter(QString());
    search_->setFocus();
    resize(fittedToScreen(*this, fontScaled(QSize(420, 520), font()), QSize(300, 300)));
}

std::optional<QString> ApplicationChooser::chosenBundleID() const {
    if (result() != QDialog::Accepted) return std::nullopt;
    const QListWidgetItem* item = list_->currentItem();
    if (item == nullptr || item->isHidden() || !item->isSelected()) return std::nullopt;
    return item->data(bundleIDRole).toString();
}

QStringList ApplicationChooser::shownBundleIDs() const {
    QStringList shown;
    for (int i = 0; i < list_->count(); ++i)
        if (!list_->item(i)->isHidden()) shown << list_->item(i)->data(bundleIDRole).toString();
    return shown;
}

void ApplicationChooser::filter(const QString& text) {
    const QString wanted = text.trimmed();
    QListWidgetItem* first = nullptr;
    for (int i = 0; i < list_->count(); ++i) {
        QListWidgetItem* item = list_->item(i);
        const bool matches = wanted.isEmpty() || item->text().contains(wanted, Qt::CaseInsensitive) ||
                             item->data(bundleIDRole).toString().contains(wanted, Qt::CaseInsensitive);
        item->setHidden(!matches);
        if (matches && first == nullptr) first = item;
    }
    // What was typed picks the first that still shows.
    if (QListWidgetItem* current = list_->currentItem(); current == nullptr || current->isHidden()) {
        list_->setCurrentItem(first);
    }
    if (first == nullptr) list_->clearSelection();
    selectionChanged();
}

void ApplicationChooser::selectionChanged() {
    const QListWidgetItem* current = list_->currentItem();
    const bool chosen = current != nullptr && !current->isHidden() && current->isSelected();
    for (QAbstractButton* button : buttons_->buttons())
        if (buttons_->buttonRole(button) == QDialogButtonBox::AcceptRole) button->setEnabled(chosen);
}

} // namespace ravolet
