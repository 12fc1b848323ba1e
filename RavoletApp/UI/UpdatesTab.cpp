#include "RavoletApp/UI/UpdatesTab.hpp"

#include <QCheckBox>
#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <chrono>

#include "RavoletApp/UI/Explain.hpp"
#include "RavoletApp/UI/FactRow.hpp"
#include "RavoletApp/UI/ModelObserver.hpp"
#include "RavoletApp/UI/PageSection.hpp"
#include "RavoletApp/UI/QtText.hpp"
#include "RavoletApp/UI/ResetButton.hpp"
#include "RavoletApp/UI/Style.hpp"
#include "RavoletApp/ViewModels/UpdatesRules.hpp"

namespace ravolet {

namespace {

// The date in the locale's abbreviated style (its long date without the
// weekday, the month's name shortened) and the time in its short style.
QString lastCheckedText(const std::optional<std::chrono::system_clock::time_point>& date) {
    if (!date) return QStringLiteral("Never");
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(date->time_since_epoch()).count();
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(millis);
    const QLocale locale;
    QString dateFormat = locale.dateFormat(QLocale::LongFormat);
    dateFormat.remove(QRegularExpression(QStringLiteral("d{4}[^dMy]*")));
    dateFormat.replace(QStringLiteral("MMMM"), QStringLiteral("MMM"));
    return locale.toString(when.date(), dateFormat.trimmed()) + QStringLiteral(", ") +
           locale.toString(when.time(), QLocale::ShortFormat);
}

} // namespace

UpdatesTab::UpdatesTab(std::shared_ptr<AppModel> model, QWidget* parent) : QWidget(parent), model_(std::move(model)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(18);

    auto* automatic = new PageSection(QStringLiteral("Automatic Checks"), QString(), this);
    automatic_ = new QCheckBox(QStringLiteral("Check for updates automatically"), automatic);
    QWidget* automaticRow = resettable(automatic_, QStringLiteral("Automatic update checks"),
                                       [this] { updatesPage::resetAutomaticChecks(model_->updater()); });
    automaticReset_ = automaticRow->findChild<ResetButton*>();
    automatic->rows()->addWidget(automaticRow);
    const bool updatesItself = model_->updater().updater().updatesItself();
    if (!updatesItself) {
        // Updated by the package manager (the copy Ravolet's Debian package
        // installed) or by building it again (a build from source): the
        // switch stays off and disabled, the page says which, and only the
        // version is shown.
        const bool fromPackage = model_->updater().bundle().fromPackage;
        automaticRow->setEnabled(false);
        // The reason goes with the switch itself too: its tip, and what a
        // screen reader says of it.
        automatic_->setToolTip(qtText(updatesPage::updatedElsewhereShortNote(fromPackage)));
        automatic_->setAccessibleDescription(qtText(updatesPage::updatedElsewhereNote(fromPackage)));
        automatic->rows()->addWidget(new Explain(qtText(updatesPage::updatedElsewhereNote(fromPackage)), automatic));
        column->addWidget(automatic);
        auto* installed = new PageSection(QStringLiteral("Installed Version"), QString(), this);
        version_ = new FactRow(QStringLiteral("This version"), QString(), std::nullopt, installed);
        installed->rows()->addWidget(version_);
        column->addWidget(installed);
        column->addStretch(1);
        connect(automatic_, &QCheckBox::toggled, this, [this] { refresh(); });
        refresh();
        return;
    }
    automatic->rows()->addWidget(new Explain(
        QStringLiteral("Once a day, while Ravolet is running. It asks before it installs anything — Ravolet can be in "
                       "the middle of a macro or holding a key down, and swapping the app out from under that is not "
                       "a decision it should make on your behalf."),
        automatic));
    column->addWidget(automatic);

    auto* now = new PageSection(QStringLiteral("Check Now"), QString(), this);
    auto* checkRow = new QHBoxLayout;
    check_ = new QPushButton(QStringLiteral("Check for Updates…"), now);
    check_->setDefault(true);
    underWay_ = new QLabel(now);
    applyTextStyle(underWay_, TextStyle::callout);
    applyTextColor(underWay_, SystemColor::secondary);
    checkRow->addWidget(check_);
    checkRow->addWidget(underWay_);
    checkRow->addStretch(1);
    now->rows()->addLayout(checkRow);
    version_ = new FactRow(
        QStringLiteral("This version"), QString(),
        QStringLiteral("The number in brackets is the build number, which is what decides whether an update is newer. "
                       "It is the number of commits in Ravolet's source history, so it only ever goes up."),
        now);
    lastChecked_ = new FactRow(QStringLiteral("Last checked"), QString(), std::nullopt, now);
    feed_ = new FactRow(QStringLiteral("Update feed"), QString(),
                        QStringLiteral("The only thing Ravolet ever asks the network for on its own. It is a small XML "
                                       "file listing the newest version."),
                        now);
    now->rows()->addWidget(version_);
    now->rows()->addWidget(lastChecked_);
    now->rows()->addWidget(feed_);
    column->addWidget(now);

    auto* trust = new PageSection(QStringLiteral("How Updates Are Trusted"), QString(), this);
    trust->rows()->addWidget(new Explain(
        QStringLiteral("Every update is signed with a key that never leaves the machine Ravolet is built on, and the "
                       "public half is compiled into this copy of the app. A download that does not verify against it "
                       "is refused and deleted, so an intercepted or tampered update cannot install itself — even if "
                       "the file were served from somewhere it should not be."),
        trust));
    trust->rows()->addWidget(
        new Explain(QStringLiteral("A check sends nothing about you. It is a plain request for the feed."), trust));
    column->addWidget(trust);
    column->addStretch(1);

    connect(automatic_, &QCheckBox::toggled, this,
            [this](bool on) { updatesPage::setAutomaticChecks(model_->updater(), on); });
    connect(check_, &QPushButton::clicked, this, [this] {
        model_->updater().checkForUpdates();
        refresh();
    });
    modelConnections(this).keep(
        model_->updater().preferences->automaticUpdateChecks.observe([this](const bool&) { refresh(); }));
    refresh();
}

void UpdatesTab::refresh() {
    UpdaterController& controller = model_->updater();
    const platform::UpdaterBackend& updater = controller.updater();
    version_->setValue(QString::fromStdString(controller.currentVersionDescription()));
    {
        const QSignalBlocker blocker(automatic_);
        automatic_->setChecked(updater.updatesItself() && controller.preferences->automaticUpdateChecks.value());
    }
    if (!check_) return;
    const bool canCheck = updater.canCheckForUpdates();
    check_->setEnabled(canCheck);
    underWay_->setText(qtText(updatesPage::checkDisabledNote(updater.updatesItself())));
    underWay_->setVisible(!canCheck);
    lastChecked_->setValue(lastCheckedText(updater.lastUpdateCheckDate()));
    feed_->setValue(QString::fromStdString(updatesPage::feedText(updater.feedURL())));
}

void UpdatesTab::showEvent(QShowEvent* event) {
    refresh();
    QWidget::showEvent(event);
}

} // namespace ravolet
