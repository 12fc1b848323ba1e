#include "RavoletApp/UI/ProfileScope.hpp"

#include <QFrame>
#include <QHBoxLayout>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "RavoletApp/UI/AccessibleName.hpp"
#include "RavoletApp/UI/ModelObserver.hpp"
#include "RavoletApp/UI/ResetButton.hpp"
#include "RavoletApp/UI/Style.hpp"
#include "RavoletApp/UI/SymbolIcon.hpp"
#include "RavoletApp/ViewModels/ProfileScopeRules.hpp"

namespace ravolet {

ProfileBinding::ProfileBinding(std::shared_ptr<AppModel> model, std::shared_ptr<ProfileSelection> selection,
                               QObject* parent)
    : QObject(parent), model_(std::move(model)), selection_(std::move(selection)) {
    observeWhileAlive(this, model_->config(), [this](const Config&) { Q_EMIT changed(); });
    observeWhileAlive(this, *selection_, [this](const std::string&) { Q_EMIT changed(); });
}

Profile ProfileBinding::value() const { return scopedProfile(model_->config().value(), selection_->value()); }

void ProfileBinding::set(const Profile& profile) {
    // The model ignores an unchanged document, so an edit that changes
    // nothing saves nothing and leaves the engine alone.
    if (auto changed = replacingProfile(model_->config().value(), profile)) model_->setConfig(*std::move(changed));
}

void ProfileBinding::edit(const std::function<void(Profile&)>& change) {
    Profile profile = value();
    change(profile);
    set(profile);
}

ProfileScope::ProfileScope(std::shared_ptr<AppModel> model, std::shared_ptr<ProfileSelection> selection,
                           const ContentFactory& makeContent, QWidget* parent)
    : QWidget(parent), model_(std::move(model)), selection_(std::move(selection)) {
    binding_ = new ProfileBinding(model_, selection_, this);

    auto* header = new QWidget(this);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(20, 10, 20, 10);
    row->setSpacing(10);

    auto* pickerRow = new QWidget(header);
    auto* pickerLayout = new QHBoxLayout(pickerRow);
    pickerLayout->setContentsMargins(0, 0, 0, 0);
    pickerLayout->setSpacing(8);
    auto* pickerLabel = new QLabel(QStringLiteral("Editing profile"), pickerRow);
    pickerLayout->addWidget(pickerLabel);
    picker_ = new QComboBox(pickerRow);
    labelForReaders(pickerLabel, picker_);
    picker_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    pickerLayout->addWidget(picker_, 1);
    auto* resettablePicker = resettable(pickerRow, QStringLiteral("Editing profile"), [this] {
        selection_->set(model_->config().value().ruleSet.defaultProfileID);
    });
    resettablePicker->setMaximumWidth(fontScaled(330, resettablePicker->font()));
    pickerReset_ = resettablePicker->findChild<ResetButton*>();
    row->addWidget(resettablePicker);

    inUseIcon_ = new QLabel(header);
    inUseText_ = new QLabel(header);
    applyTextStyle(inUseText_, TextStyle::caption);
    auto* inUse = new QHBoxLayout;
    inUse->setSpacing(4);
    inUse->addWidget(inUseIcon_);
    inUse->addWidget(inUseText_);
    row->addLayout(inUse);
    row->addStretch(1);

    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(header);
    column->addWidget(divider);
    content_ = makeContent(*binding_);
    if (content_) column->addWidget(content_, 1);

    connect(picker_, &QComboBox::activated, this, [this](int index) {
        const QVariant id = picker_->itemData(index);
        if (id.isValid()) selection_->set(id.toString().toStdString());
    });

    fillPicker();
    refreshInUseLine();
    observeWhileAlive(this, model_->config(), [this](const Config&) {
        fillPicker();
        refreshInUseLine();
    });
    observeWhileAlive(this, *selection_, [this](const std::string&) {
        fillPicker();
        refreshInUseLine();
    });
    observeWhileAlive(this, model_->status(), [this](const EngineStatus&) { refreshInUseLine(); });
    observeWhileAlive(this, model_->frontmostAppName(),
                      [this](const std::optional<std::string>&) { refreshInUseLine(); });
}

void ProfileScope::fillPicker() {
    const QSignalBlocker blocker(picker_);
    picker_->clear();
    const Config& config = model_->config().value();
    for (const Profile& profile : config.profiles)
        picker_->addItem(QString::fromStdString(profile.name), QString::fromStdString(profile.id));
    // A selection that names no profile shows no entry, as a popup with no
    // matching item does.
    picker_->setCurrentIndex(picker_->findData(QString::fromStdString(selection_->value())));
}

void ProfileScope::refreshInUseLine() {
    const EngineStatus& status = model_->status().value();
    const ProfileInUseLine line = profileInUseLine(selection_->value(), status.activeProfileID,
                                                   status.activeProfileName, model_->frontmostAppName().value());
    inUseText_->setText(QString::fromStdString(line.text));
    const bool inUse = line.kind == ProfileInUseLine::Kind::inUse;
    inUseIcon_->setVisible(inUse);
    if (inUse) {
        const int size = inUseText_->fontMetrics().height();
        inUseIcon_->setPixmap(symbolPixmap("checkmark.circle.fill", size,
                                           systemColor(SystemColor::green, palette())));
        applyTextColor(inUseText_, SystemColor::green);
    } else {
        applyTextColor(inUseText_, SystemColor::secondary);
    }
    inUseText_->setVisible(line.kind != ProfileInUseLine::Kind::none);
}

} // namespace ravolet
