#include "RavoletApp/UI/PointerTab.hpp"

#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QResizeEvent>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "Core/Clamp.hpp"
#include "RavoletApp/UI/AccessibleName.hpp"
#include "RavoletApp/UI/ArrowKeyGroup.hpp"
#include "RavoletApp/UI/Explain.hpp"
#include "RavoletApp/UI/FactRow.hpp"
#include "RavoletApp/UI/ModelObserver.hpp"
#include "RavoletApp/UI/NoticeBanner.hpp"
#include "RavoletApp/UI/PageSection.hpp"
#include "RavoletApp/UI/ResetButton.hpp"
#include "RavoletApp/UI/StatusDot.hpp"
#include "RavoletApp/UI/Style.hpp"
#include "RavoletApp/UI/ValueSlider.hpp"
#include "RavoletApp/ViewModels/PointerPageRules.hpp"

namespace ravolet {

namespace {

QString groupedNumber(std::int64_t value) { return QLocale().toString(static_cast<qlonglong>(value)); }

// The page's switches write on toggled, however they are flipped (a click,
// the space bar, a screen reader); refresh() fills them under a signal blocker.
QCheckBox* makeSwitch(const QString& title) {
    auto* box = new QCheckBox(title);
    box->setAccessibleName(title);
    return box;
}

// A picker with its title on the leading side.
template <class T>
QComboBox* makePicker(const QString& title, const std::vector<Choice<T>>& choices, QWidget*& row) {
    row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    auto* label = new QLabel(title, row);
    layout->addWidget(label);
    auto* picker = new QComboBox(row);
    labelForReaders(label, picker);
    for (const Choice<T>& choice : choices) picker->addItem(qtText(choice.label));
    layout->addWidget(picker);
    layout->addStretch(1);
    return picker;
}

template <class T>
int choiceIndex(const std::vector<Choice<T>>& choices, const std::optional<T>& value) {
    for (std::size_t i = 0; i < choices.size(); ++i)
        if (choices[i].value == value) return static_cast<int>(i);
    return -1; // a stored value the picker does not offer shows no choice
}

// The DPI presets in as few rows of cells at least 70 wide (more where a
// larger font needs it) as the width allows, the rows filled evenly.
class PresetGrid : public QWidget {
public:
    static constexpr int minimumCellWidth = 70;

    PresetGrid() : grid_(new QGridLayout(this)) { grid_->setContentsMargins(0, 0, 0, 0); }

    void add(QPushButton* button) {
        button->setMinimumWidth(fontScaled(minimumCellWidth, button->font()));
        buttons_.push_back(button);
        place(columnsFor(width()));
    }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QWidget::resizeEvent(event);
        if (const int columns = columnsFor(width()); columns != columns_) place(columns);
    }

private:
    int columnsFor(int width) const {
        const int spacing = std::max(grid_->horizontalSpacing(), 0);
        const int count = std::max(static_cast<int>(buttons_.size()), 1);
        int cell = 1;
        for (const QPushButton* button : buttons_) cell = std::max(cell, button->minimumSizeHint().width());
        const int fitting = std::clamp((width + spacing) / (cell + spacing), 1, count);
        // As few rows as fit, filled evenly, so no button stands alone on the last row.
        const int rows = (count + fitting - 1) / fitting;
        return (count + rows - 1) / rows;
    }

    void place(int columns) {
        columns_ = columns;
        for (QPushButton* button : buttons_) grid_->removeWidget(button);
        for (int i = 0; i < static_cast<int>(buttons_.size()); ++i)
            grid_->addWidget(buttons_[static_cast<std::size_t>(i)], i / columns, i % columns);
    }

    QGridLayout* grid_;
    std::vector<QPushButton*> buttons_;
    int columns_ = 0;
};

void fill(ValueSlider* slider, double value) {
    const QSignalBlocker blocker(slider);
    slider->setValue(value);
}

void fill(QCheckBox* box, bool checked) {
    const QSignalBlocker blocker(box);
    box->setChecked(checked);
}

void fill(QComboBox* picker, int index) {
    const QSignalBlocker blocker(picker);
    picker->setCurrentIndex(index);
}

} // namespace

std::shared_ptr<PointerHardwareTuning> PointerTab::tunerOf(const AppModel& model) {
    if (const auto& given = model.dependencies().engine.pointerTuning) return given;
    return RavoletEngine::Environment::standardPointerTuning();
}

PointerTab::PointerTab(std::shared_ptr<AppModel> model, ProfileBinding& binding, QWidget* parent)
    : QWidget(parent), model_(std::move(model)), binding_(binding), tuner_(tunerOf(*model_)) {
    build();
    refresh();
    watch();
}

void PointerTab::build() {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 16, 20, 20);
    column->setSpacing(16);
    buildDeviceSections();
    buildHardwareSection();
    buildPointerSections();
    buildLoginSection();
    for (PageSection* section : {deviceControl_, dpiSection_, reportRateSection_, wheelSection_, hardwareSection_,
                                 movementSection_, speedSection_, curveSection_})
        column->addWidget(section);
    auto* promise = new PageSection(QStringLiteral("What This Does and Does Not Do"), this);
    promise->addExplain(QStringLiteral(
        "What Ravolet can promise here: the curve is applied only to the mouse Ravolet recognises, dragging behaves "
        "exactly like moving, and a pointer event is only ever rewritten \u2014 never delayed, never dropped. If "
        "Ravolet stops, the pointer goes back to whatever your desktop was doing, immediately."));
    promise->addExplain(QStringLiteral("Fractional movement is carried into the next sample so slow motion stays "
                                       "precise. Other pointer tools can still interfere if they also reposition the "
                                       "cursor."));
    column->addWidget(promise);
    column->addWidget(loginSection_);
    column->addStretch(1);
}

void PointerTab::buildDeviceSections() {
    deviceControl_ = new PageSection(QStringLiteral("Device Control"), this);
    const QString managesTitle = QStringLiteral("Let Ravolet set your mouse's DPI, report rate and wheel mode");
    manages_ = makeSwitch(managesTitle);
    deviceControl_->add(resettable(manages_, managesTitle, [this] { model_->setManagesDeviceSettings(true); }));
    deviceControl_->addExplain(QStringLiteral(
        "With this off, Ravolet reads your mouse so the Device page can show you what it is doing, but never writes "
        "anything to it. Your existing Logitech settings are left exactly as they are."));
    connect(manages_, &QCheckBox::toggled, this, [this](bool on) { model_->setManagesDeviceSettings(on); });

    dpiSection_ = new PageSection(QString(), this);
    dpi_ = dpiSection_->add(new ValueSlider({
        .title = QStringLiteral("DPI"),
        .help = QStringLiteral("Sensor resolution for this profile."),
        .range = {100, 25600},
        .step = 50,
        .defaultValue = 2000,
        .precisionStep = 50,
        .format = [](double value) { return groupedNumber(truncatedInteger(value)); },
    }));
    connect(dpi_, &ValueSlider::valueEdited, this,
            [this](double value) { editPointer([&](PointerSettings& p) { p.dpi = dpiFromSlider(value); }); });
    dpiSection_->addExplain(QStringLiteral(
        "How many steps the sensor reports per inch of hand movement. Higher means the pointer covers more screen "
        "for the same movement. This is the honest way to change pointer speed \u2014 it happens in the mouse, so "
        "nothing has to be scaled or rounded afterwards and the pointer stays smooth."));
    auto* grid = new PresetGrid;
    for (const std::int64_t preset : dpiPresets) {
        auto* button = new QPushButton(groupedNumber(preset), grid);
        grid->add(button);
        connect(button, &QPushButton::clicked, this,
                [this, preset] { editPointer([&](PointerSettings& p) { p.dpi = preset; }); });
        presets_.push_back(button);
    }
    // One Tab stop for the eight: the arrow keys go from one to the next.
    new ArrowKeyGroup({presets_.begin(), presets_.end()}, grid);
    dpiSection_->add(grid);
    dpiSection_->addExplain(QStringLiteral("Quick presets from 400 to 4,000 DPI. The default is 2,000 DPI."));
    acceptance_ = dpiSection_->add(new FactList);
    acceptanceUnknown_ = dpiSection_->addExplain(QString());
    dpiSection_->addExplain(QStringLiteral(
        "DPI is stored per profile, so a canvas app can run slower than your desktop without you touching anything."));

    reportRateSection_ = new PageSection(QStringLiteral("Report Rate"), this);
    QWidget* pickerRow = nullptr;
    reportRate_ = makePicker(QStringLiteral("Report rate"), reportRateChoices(), pickerRow);
    reportRateSection_->add(
        resettable(pickerRow, QStringLiteral("Report rate"), [this] { model_->setReportRate(std::nullopt); }));
    connect(reportRate_, &QComboBox::activated, this, [this](int index) {
        if (index >= 0 && index < static_cast<int>(reportRateChoices().size()))
            model_->setReportRate(reportRateChoices()[static_cast<std::size_t>(index)].value);
    });
    reportRateSection_->addExplain(QStringLiteral(
        "How often the mouse tells the computer where it is. 1000 Hz is the lowest-latency setting and what a gaming "
        "mouse ships at; lower rates use slightly less power and are indistinguishable for ordinary work."));
    runningAt_ = reportRateSection_->add(new FactList);

    wheelSection_ = new PageSection(QStringLiteral("Scroll Wheel Hardware"), this);
    wheel_ = makePicker(QStringLiteral("Wheel resolution"), wheelResolutionChoices(), pickerRow);
    wheelSection_->add(
        resettable(pickerRow, QStringLiteral("Wheel resolution"), [this] { model_->setHighResolutionWheel(false); }));
    connect(wheel_, &QComboBox::activated, this, [this](int index) {
        if (index >= 0 && index < static_cast<int>(wheelResolutionChoices().size()))
            model_->setHighResolutionWheel(wheelResolutionChoices()[static_cast<std::size_t>(index)].value);
    });
    wheelSection_->addExplain(QStringLiteral(
        "High resolution makes the wheel report several small steps for each physical click instead of one big one. "
        "Ravolet's smoothing already turns one click into a glide, so Normal is the default. Choose High resolution "
        "if you want the raw wheel finer as well."));
    wheelFacts_ = wheelSection_->add(new FactList);
}

void PointerTab::buildHardwareSection() {
    hardwareSection_ = new PageSection(QStringLiteral("What Your Desktop Thinks Your Hand Is Doing"), this);
    hardwareSection_->addExplain(qtText(hardwareIntro()));
    beliefs_ = hardwareSection_->add(new FactList);
    beliefsUnknown_ = hardwareSection_->addExplain(QString());
    tuning_ = makeSwitch(QString());
    tuningRow_ = hardwareSection_->add(resettable(tuning_, QStringLiteral("Desktop acceleration"), [this] { setTuning(true); }));
    connect(tuning_, &QCheckBox::toggled, this, [this](bool on) { setTuning(on); });
    for (Explain*& line : tuningExplanations_) line = hardwareSection_->addExplain(QString());
    recovered_ = hardwareSection_->add(new NoticeBanner(NoticeBanner::Kind::informational, QString(), QString()));
    applied_ = hardwareSection_->add(new FactList);
    failure_ = hardwareSection_->add(new NoticeBanner(NoticeBanner::Kind::problem, QString(), QString()));
    othersWarning_ = hardwareSection_->add(new NoticeBanner(
        NoticeBanner::Kind::warning, QStringLiteral("Other tools can change this too"),
        QStringLiteral("Your desktop's own mouse settings, and other tools, can change the same setting, and whichever "
                       "writes last wins. When one of them changes it, Ravolet says so here and leaves their value as "
                       "it is; it sets its own again when the mouse reconnects or its DPI changes, or when you turn "
                       "this switch off and on again.")));
    hardwareSection_->setFooter(QStringLiteral("This is a setting for this computer and this mouse, not for a profile "
                                               "\u2014 the correction is either right for the hardware or it is not."));
}

void PointerTab::buildPointerSections() {
    movementSection_ = new PageSection(QString(), this);
    const QString pointerTitle = QStringLiteral("Let Ravolet reshape pointer movement");
    pointerEnabled_ = makeSwitch(pointerTitle);
    movementSection_->add(resettable(pointerEnabled_, pointerTitle,
                                     [this] { editPointer([](PointerSettings& p) { p.isEnabled = true; }); }));
    connect(pointerEnabled_, &QCheckBox::toggled, this,
            [this](bool on) { editPointer([&](PointerSettings& p) { p.isEnabled = on; }); });
    movementSection_->addExplain(QStringLiteral(
        "Enabled by default. Ravolet applies this profile's pointer speed and acceleration to your mouse movement. "
        "Turn it off to let your desktop handle pointer movement."));
    movementSection_->addExplain(QStringLiteral(
        "DPI, above, is still the better lever for plain speed: it changes the sensor itself, so nothing has to be "
        "rescaled or rounded afterwards. Use this page when you want a different shape \u2014 slow while you are "
        "aiming, fast when you are crossing the screen \u2014 which DPI alone cannot give you."));

    speedSection_ = new PageSection(QStringLiteral("Speed"), this);
    speed_ = speedSection_->add(new ValueSlider({
        .title = QStringLiteral("Pointer speed"),
        .help = QStringLiteral("A flat multiplier on raw mouse movement, fast or slow. 1.00\u00D7 maps one sensor "
                               "count to one screen point before acceleration; 0.50\u00D7 halves the distance and "
                               "2.00\u00D7 doubles it."),
        .range = {0.25, 3.0},
        .step = 0.05,
        .defaultValue = 1.0,
        .precisionStep = 0.01,
        .format = [](double value) { return QString::asprintf("%.2f\u00D7", value); },
    }));
    connect(speed_, &ValueSlider::valueEdited, this,
            [this](double value) { editPointer([&](PointerSettings& p) { p.curve.sensitivity = value; }); });
    speedSection_->addExplain(QStringLiteral(
        "Below 1.00\u00D7, Ravolet has to throw away part of every movement to land on a whole pixel. It keeps the "
        "leftover and pays it out on the next report instead of dropping it, so slow movement stays smooth and does "
        "not drift off to one side \u2014 but the finest movements are still coarser than turning the DPI down would "
        "be."));
    const QString accelerationTitle = QStringLiteral("Speed up when I move quickly");
    acceleration_ = makeSwitch(accelerationTitle);
    speedSection_->add(resettable(acceleration_, accelerationTitle,
                                  [this] { editPointer([](PointerSettings& p) { setAcceleration(p, true); }); }));
    connect(acceleration_, &QCheckBox::toggled, this,
            [this](bool on) { editPointer([&](PointerSettings& p) { setAcceleration(p, on); }); });
    speedSection_->addExplain(QStringLiteral(
        "On enables pointer processing for this profile and adds distance as you move faster. Off gives constant "
        "speed while pointer processing is enabled. Turn pointer processing off to return movement to your desktop."));
    status_ = speedSection_->add(new StatusDot(StatusDot::Level::off, QString()));
    status_->setCaption(QStringLiteral("Pointer processing"));

    curveSection_ = new PageSection(QStringLiteral("Acceleration Curve"), this);
    const CurveParameters& starting = CurveParameters::starting();
    const auto curveSlider = [this](ValueSlider::Options options, CurveField field) {
        auto* slider = curveSection_->add(new ValueSlider(std::move(options)));
        connect(slider, &ValueSlider::valueEdited, this, [this, field](double value) {
            editPointer([&](PointerSettings& p) { setCurveParameter(p, field, value); });
        });
        return slider;
    };
    threshold_ = curveSlider(
        {.title = QStringLiteral("Starts speeding up above"),
         .help = QStringLiteral("How fast your hand has to be moving before any extra speed is added. Below this the "
                                "pointer is exactly 1:1 with the speed setting above, so slow, deliberate aiming is "
                                "never touched. Higher means you have to move faster before it kicks in."),
         .range = {100, 4000},
         .step = 50,
         .defaultValue = starting.thresholdCountsPerSecond,
         .precisionStep = 1,
         .format = [](double value) { return QString::number(truncatedInteger(value)) + QStringLiteral(" counts/s"); }},
        CurveField::thresholdCountsPerSecond);
    curveSection_->addExplain(QStringLiteral("Measured in sensor counts per second. Increasing DPI means the same hand "
                                             "movement produces more counts and reaches this threshold sooner."));
    exponent_ = curveSlider(
        {.title = QStringLiteral("How sharply it speeds up"),
         .help = QStringLiteral("The steepness of the curve past the threshold. Low is a gentle nudge most people "
                                "never notice; high ramps hard, so small changes in hand speed make large changes in "
                                "cursor speed. Anything above about 1.0 is difficult to control."),
         .range = {0.1, 1.5},
         .step = 0.05,
         .defaultValue = starting.exponent,
         .precisionStep = 0.01,
         .format = [](double value) { return QString::asprintf("%.2f", value); }},
        CurveField::exponent);
    maxGain_ = curveSlider(
        {.title = QStringLiteral("Never more than"),
         .help = QStringLiteral("A hard ceiling on the extra speed, so a fast flick cannot fling the cursor into a "
                                "corner. 2.5\u00D7 means the fastest movement covers at most two and a half times the "
                                "ground a slow one would. This is the setting that keeps a curve usable."),
         .range = {1.0, 6.0},
         .step = 0.1,
         .defaultValue = starting.maxGain,
         .precisionStep = 0.1,
         .format = [](double value) { return QString::asprintf("%.1f\u00D7", value); }},
        CurveField::maxGain);

}

void PointerTab::buildLoginSection() {
    loginSection_ = new PageSection(QStringLiteral("Keeping These Settings"), this);
    loginSection_->addExplain(QStringLiteral(
        "DPI, report rate and wheel mode live in the mouse until it is unplugged or reset. Pointer speed and "
        "acceleration run in Ravolet. Starting at login keeps both available."));
    login_ = makeSwitch(QStringLiteral("Start Ravolet when I log in"));
    loginSection_->add(
        resettable(login_, QStringLiteral("Start at login"), [this] { model_->launchAtLogin().setEnabled(false); }));
    connect(login_, &QCheckBox::toggled, this, [this](bool on) { model_->launchAtLogin().setEnabled(on); });
    loginSentence_ = loginSection_->addExplain(QString());
    loginRefusal_ = loginSection_->addExplain(QString());
}

void PointerTab::watch() {
    const auto again = [this](const auto&) { refresh(); };
    connect(&binding_, &ProfileBinding::changed, this, &PointerTab::refresh);
    AppPreferences& preferences = model_->preferences();
    modelConnections(this).keep(preferences.managesDeviceSettings.observe(again));
    modelConnections(this).keep(preferences.reportRateHertz.observe(again));
    modelConnections(this).keep(preferences.highResolutionWheel.observe(again));
    modelConnections(this).keep(preferences.isPausedByUser.observe(again));
    observeWhileAlive(this, model_->deviceMonitor().snapshot(), again);
    observeWhileAlive(this, model_->status(), again);
    observeWhileAlive(this, model_->permissions(), again);
    observeWhileAlive(this, model_->launchAtLogin().status(), again);
    observeWhileAlive(this, model_->launchAtLogin().lastError(), again);
    modelConnections(this).keep(tuner_->observeStatus(again));
}

void PointerTab::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // A window brought back by the window system is not the page coming on screen.
    if (!event->spontaneous()) tuner_->refreshReading();
}

void PointerTab::editPointer(const std::function<void(PointerSettings&)>& change) {
    binding_.edit([&](Profile& profile) { change(profile.pointer); });
}

void PointerTab::setTuning(bool enabled) {
    tuner_->setEnabled(enabled);
    tuner_->refreshReading();
}

void PointerTab::refresh() {
    const Profile profile = binding_.value();
    const PointerSettings& pointer = profile.pointer;
    const AppPreferences& preferences = model_->preferences();
    const DeviceMonitor::Snapshot& snapshot = model_->deviceMonitor().snapshot().value();
    const PointerTuningStatus& tuning = tuner_->status();
    const QString name = qtText(profile.name);

    // Device control, DPI, report rate and the wheel.
    const bool manages = preferences.managesDeviceSettings.value();
    fill(manages_, manages);
    deviceControl_->setFooter(manages ? std::nullopt
                                      : std::optional(QStringLiteral(
                                            "Everything below is switched off while Ravolet is not managing the mouse.")));
    for (PageSection* section : {dpiSection_, reportRateSection_, wheelSection_}) section->setEnabled(manages);
    dpiSection_->setTitle(QStringLiteral("DPI \u2014 ") + name);
    fill(dpi_, static_cast<double>(pointer.dpi));
    const DPIAcceptance acceptance = dpiAcceptance(snapshot.dpiRange, pointer.dpi);
    acceptance_->setFacts(acceptance.fact ? std::vector{*acceptance.fact} : std::vector<PageFact>{});
    showOptionalText(acceptanceUnknown_, acceptance.unknown);
    fill(reportRate_, choiceIndex(reportRateChoices(), preferences.reportRateHertz.value()));
    std::vector<PageFact> facts;
    if (auto fact = runningAtFact(snapshot.reportRate)) facts.push_back(*fact);
    runningAt_->setFacts(facts);
    fill(wheel_, choiceIndex(wheelResolutionChoices(), preferences.highResolutionWheel.value()));
    facts.clear();
    if (auto fact = wheelStepsFact(snapshot.wheelCapability)) facts.push_back(*fact);
    if (auto fact = wheelModeFact(snapshot.wheelMode)) facts.push_back(*fact);
    wheelFacts_->setFacts(facts);

    // The desktop's acceleration.
    const PointerDesktop desktop = tuner_->desktop();
    const HardwareBeliefs beliefs = hardwareBeliefs(tuning, snapshot.dpi, pointer.dpi, desktop);
    beliefs_->setFacts(beliefs.facts);
    showOptionalText(beliefsUnknown_, beliefs.explanation);
    const TuningSwitch tuningSwitch = ravolet::tuningSwitch(tuning, desktop);
    fill(tuning_, tuningSwitch.checked);
    tuning_->setText(qtText(tuningSwitch.title));
    tuning_->setAccessibleName(qtText(tuningSwitch.title));
    tuningRow_->setVisible(tuningSwitch.visible);
    othersWarning_->setVisible(tuningSwitch.visible);
    const std::vector<std::string> explanations = tuningExplanations(desktop);
    for (std::size_t i = 0; i < tuningExplanations_.size(); ++i)
        showOptionalText(tuningExplanations_[i], tuningSwitch.visible && i < explanations.size()
                                                     ? std::optional(explanations[i])
                                                     : std::nullopt);
    showNotice(recovered_, recoveredCaptureNotice(tuning));
    applied_->setFacts(appliedCorrectionFacts(tuning, desktop));
    showNotice(failure_, correctionFailure(tuning));

    // The profile's pointer movement.
    movementSection_->setTitle(QStringLiteral("Pointer Movement \u2014 ") + name);
    fill(pointerEnabled_, pointer.isEnabled);
    fill(speed_, pointer.curve.sensitivity);
    speed_->setEnabled(pointer.isEnabled);
    fill(acceleration_, accelerationIsOn(pointer));
    const EngineStatus& status = model_->status().value();
    showStatus(status_, pointerStatus({profile, status, model_->permissions().value(),
                                       preferences.isPausedByUser.value(), tuning}));
    const CurveParameters curve = curveParameters(pointer.curve.acceleration);
    fill(threshold_, curve.thresholdCountsPerSecond);
    fill(exponent_, curve.exponent);
    fill(maxGain_, curve.maxGain);
    curveSection_->setEnabled(pointer.isEnabled && !pointer.curve.acceleration.isOff());
    curveSection_->setFooter(qtText(curveFooter(tuning, desktop)));

    // Starting at login.
    const LaunchAtLogin& login = model_->launchAtLogin();
    fill(login_, login.status().value() == platform::LoginItemStatus::enabled);
    loginSentence_->setText(qtText(loginItemSentence(login.status().value())));
    showOptionalText(loginRefusal_, loginItemRefusal(login.lastError().value()));
}

} // namespace ravolet
