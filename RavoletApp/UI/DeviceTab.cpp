#include "RavoletApp/UI/DeviceTab.hpp"

#include <QDateTime>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "RavoletApp/UI/Explain.hpp"
#include "RavoletApp/UI/ExternalLink.hpp"
#include "RavoletApp/UI/ModelObserver.hpp"
#include "RavoletApp/UI/NoticeBanner.hpp"
#include "RavoletApp/UI/PageSection.hpp"
#include "RavoletApp/UI/StatusDot.hpp"
#include "RavoletApp/UI/Style.hpp"
#include "RavoletApp/ViewModels/DevicePageRules.hpp"

namespace ravolet {

DeviceTab::DeviceTab(std::shared_ptr<AppModel> model, QWidget* parent) : QWidget(parent), model_(std::move(model)) {
    build();
    refresh();
    const auto again = [this](const auto&) { refresh(); };
    observeWhileAlive(this, model_->deviceMonitor().snapshot(), again);
    observeWhileAlive(this, model_->deviceMonitor().isRefreshing(), again);
    observeWhileAlive(this, model_->deviceMonitor().lastWriteError(), again);
    observeWhileAlive(this, model_->status(), again);
    observeWhileAlive(this, model_->permissions(), again);
    modelConnections(this).keep(model_->preferences().isPausedByUser.observe(again));
}

void DeviceTab::build() {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 16, 20, 20);
    column->setSpacing(16);

    const PageNotice access = hardwareAccessNotice({});
    permission_ = new NoticeBanner(NoticeBanner::Kind::problem, qtText(access.title), qtText(access.message), this);
    column->addWidget(permission_);

    auto* connection = new PageSection(QStringLiteral("Connection"), this);
    connection_ = connection->add(new StatusDot(StatusDot::Level::waiting, QString()));
    connection_->setCaption(QStringLiteral("Connection status"));
    connectionExplanation_ = connection->addExplain(QString());
    connectionFacts_ = connection->add(new FactList);
    column->addWidget(connection);

    auto* settings = new PageSection(QStringLiteral("Settings In The Mouse Right Now"), this);
    settingsFacts_ = settings->add(new FactList);
    auto* refreshRow = new QWidget;
    auto* row = new QHBoxLayout(refreshRow);
    row->setContentsMargins(0, 0, 0, 0);
    refresh_ = new QPushButton(QStringLiteral("Refresh"), refreshRow);
    row->addWidget(refresh_, 0, Qt::AlignVCenter);
    busy_ = new QProgressBar(refreshRow);
    busy_->setRange(0, 0); // busy, with no figure to show
    busy_->setTextVisible(false);
    busy_->setFixedSize(fontScaled(QSize(60, 10), busy_->font()));
    row->addWidget(busy_, 0, Qt::AlignVCenter);
    lastRead_ = new QLabel(refreshRow);
    applyTextStyle(lastRead_, TextStyle::caption);
    applyTextColor(lastRead_, SystemColor::secondary);
    row->addWidget(lastRead_, 0, Qt::AlignVCenter);
    row->addStretch(1);
    settings->add(refreshRow);
    settings->addExplain(QStringLiteral(
        "These are read from the mouse over HID++ each time you press Refresh, and whenever the mouse is plugged in."));
    connect(refresh_, &QPushButton::clicked, this, [this] { model_->deviceMonitor().refresh(); });
    column->addWidget(settings);

    auto* activity = new PageSection(QStringLiteral("What Ravolet Is Doing"), this);
    tap_ = activity->add(new StatusDot(StatusDot::Level::bad, QString()));
    tap_->setCaption(QStringLiteral("Event stream"));
    activity->addExplain(QStringLiteral(
        "Ravolet has to sit in the middle of the event stream to reshape a scroll. This is that connection."));
    activityFacts_ = activity->add(new FactList);
    column->addWidget(activity);

    compatibility_ = new PageSection(QStringLiteral("Compatibility"), this);
    compatibilityBanner_ = compatibility_->add(new NoticeBanner(NoticeBanner::Kind::warning, QString(), QString()));
    connect(compatibilityBanner_->addButton(QStringLiteral("Contact Support")), &QPushButton::clicked, this,
            [] { QDesktopServices::openUrl(ExternalLink::support()); });
    column->addWidget(compatibility_);

    lastProblemSection_ = new PageSection(QStringLiteral("Last Problem"), this);
    lastProblem_ = lastProblemSection_->add(new QLabel);
    lastProblem_->setWordWrap(true);
    lastProblem_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    applyTextStyle(lastProblem_, TextStyle::callout);
    lastProblemSection_->addExplain(
        QStringLiteral("This is the raw message from the mouse or from your computer, kept verbatim so support can read "
                       "it."));
    column->addWidget(lastProblemSection_);
    column->addStretch(1);
}

void DeviceTab::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // A window brought back by the window system is not the page coming on screen.
    if (!event->spontaneous()) model_->deviceMonitor().refresh();
}

void DeviceTab::refresh() {
    const DeviceMonitor& monitor = model_->deviceMonitor();
    const DeviceMonitor::Snapshot& snapshot = monitor.snapshot().value();
    const EngineStatus& status = model_->status().value();

    permission_->setVisible(snapshot.isNotPermitted);
    if (snapshot.isNotPermitted) {
        const PageNotice access = hardwareAccessNotice(model_->permissions().value());
        permission_->setMessage(qtText(access.message));
        permission_->setCommands(qtTexts(access.commands));
    }
    showStatus(connection_, connectionStatus(snapshot));
    connectionExplanation_->setText(qtText(ravolet::connectionExplanation(snapshot)));
    connectionFacts_->setFacts(ravolet::connectionFacts(snapshot));

    settingsFacts_->setFacts(ravolet::mouseSettingsFacts(snapshot));
    const bool refreshing = monitor.isRefreshing().value();
    refresh_->setEnabled(!refreshing);
    busy_->setVisible(refreshing);
    if (showsLastRead(snapshot)) {
        const auto millis =
            std::chrono::duration_cast<std::chrono::milliseconds>(snapshot.lastRefresh->time_since_epoch()).count();
        const QTime time = QDateTime::fromMSecsSinceEpoch(millis).time();
        lastRead_->setText(QStringLiteral("Last read ") + QLocale().toString(time, QLocale::ShortFormat));
    }
    lastRead_->setVisible(showsLastRead(snapshot));

    showStatus(tap_, tapStatus(status, model_->permissions().value()));
    activityFacts_->setFacts(engineActivityFacts(status, model_->preferences().isPausedByUser.value()));

    const auto compatibility = compatibilityNotice(status.missingSPISymbols);
    showNotice(compatibilityBanner_, compatibility);
    compatibility_->setVisible(compatibility.has_value());

    const auto problem = lastProblem(monitor.lastWriteError().value(), snapshot.lastError);
    showOptionalText(lastProblem_, problem);
    lastProblemSection_->setVisible(problem.has_value());
}

} // namespace ravolet
