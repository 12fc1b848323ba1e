#include "RavoletApp/UI/ProfilesTab.hpp"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>

#include "RavoletApp/UI/AccessibleName.hpp"
#include "RavoletApp/UI/ArrowKeyGroup.hpp"
#include "RavoletApp/UI/Explain.hpp"
#include "RavoletApp/UI/FactRow.hpp"
#include "RavoletApp/UI/ModelObserver.hpp"
#include "RavoletApp/UI/PageSection.hpp"
#include "RavoletApp/UI/ResetButton.hpp"
#include "RavoletApp/UI/RuleList.hpp"
#include "RavoletApp/UI/RuleRow.hpp"
#include "RavoletApp/UI/ShellExtensionSection.hpp"
#include "RavoletApp/UI/Style.hpp"
#include "RavoletApp/UI/TextFields.hpp"

namespace ravolet {

namespace {

QString text(const std::string& s) { return QString::fromStdString(s); }

// A caption-sized word on a capsule of the given fill.
QLabel* badge(const QString& title, QWidget* parent) {
    auto* label = new QLabel(title, parent);
    applyTextStyle(label, TextStyle::caption);
    label->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return label;
}

void paintBadge(QLabel* label, QColor fill) {
    const int radius = (label->fontMetrics().height() + 4) / 2;
    label->setStyleSheet(QStringLiteral("QLabel { background-color: %1; border-radius: %2px; padding: 2px 6px; }")
                             .arg(fill.name(QColor::HexArgb))
                             .arg(radius));
}

// A row goes once control returns to the event loop: the edit that removes
// it may come from one of its own buttons, still inside its click.
void discard(QWidget* row) {
    row->hide();
    row->deleteLater();
}

} // namespace

ProfilesTab::ProfilesTab(std::shared_ptr<AppModel> model, std::shared_ptr<ProfileSelection> selection, QWidget* parent)
    : QWidget(parent), model_(std::move(model)), selection_(std::move(selection)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(18);

    auto* profiles = new PageSection(
        QStringLiteral("Profiles"),
        QStringLiteral("A profile is a complete set of wheel, button and DPI settings. The default profile is used "
                       "whenever no rule below matches the app you are in."),
        this);
    profileList_ = new QVBoxLayout;
    profileList_->setSpacing(10);
    profiles->rows()->addLayout(profileList_);
    auto* profileFooter = new QHBoxLayout;
    addProfile_ = new QPushButton(QStringLiteral("Add a Profile"), profiles);
    profileFooter->addWidget(addProfile_);
    profileFooter->addStretch(1);
    auto* defaultTitle = new QLabel(QStringLiteral("Default profile"), profiles);
    applyTextStyle(defaultTitle, TextStyle::caption);
    applyTextColor(defaultTitle, SystemColor::secondary);
    profileFooter->addWidget(defaultTitle);
    defaultReset_ = new ResetButton(QStringLiteral("Default profile"), [this] {
        write(ProfilesEditor::resettingDefaultProfile(model_->config().value()));
    }, profiles);
    profileFooter->addWidget(defaultReset_);
    profiles->rows()->addLayout(profileFooter);
    column->addWidget(profiles);

    auto* rules = new PageSection(
        QStringLiteral("Per-App Rules"),
        QStringLiteral("When you switch apps, Ravolet looks for the rule that matches best: the highest priority "
                       "wins, then the most specific match — an exact application ID beats a “starts with” "
                       "pattern, and a longer prefix beats a shorter one. If nothing matches, the default profile is "
                       "used."),
        this);
    noRules_ = new Explain(QStringLiteral("No rules yet, so the default profile is used everywhere."), rules);
    rules->rows()->addWidget(noRules_);
    ruleList_ = new RuleList(model_, rules);
    rules->rows()->addWidget(ruleList_);
    connect(ruleList_, &RuleList::ruleEdited, this,
            [this](const Rule& rule) { write(ProfilesEditor::replacingRule(model_->config().value(), rule)); });
    connect(ruleList_, &RuleList::deleteRequested, this,
            [this](const std::string& id) { write(ProfilesEditor::deletingRule(model_->config().value(), id)); });
    connect(ruleList_, &RuleList::moveRequested, this, [this](const std::string& id, int offset) {
        write(ProfilesEditor::movingRule(model_->config().value(), id, offset));
    });
    addRule_ = new QPushButton(QStringLiteral("Add a Rule"), rules);
    auto* ruleFooter = new QHBoxLayout;
    ruleFooter->addWidget(addRule_);
    ruleFooter->addStretch(1);
    rules->rows()->addLayout(ruleFooter);
    column->addWidget(rules);

    auto* rightNow = new PageSection(QStringLiteral("Right Now"), QString(), this);
    frontmost_ = new FactRow(QStringLiteral("Frontmost app"), QString(), QString(), rightNow);
    inUse_ = new FactRow(QStringLiteral("Profile in use"), QString(), QString(), rightNow);
    rightNow->rows()->addWidget(frontmost_);
    rightNow->rows()->addWidget(inUse_);
    column->addWidget(rightNow);
    shellExtension_ = new ShellExtensionSection(model_, this);
    column->addWidget(shellExtension_);
    column->addStretch(1);

    connect(addProfile_, &QPushButton::clicked, this, [this] {
        ProfilesEditor::Edit edit = editor_.addProfile(model_->config().value());
        write(std::move(edit.config));
        select(edit.selection);
    });
    connect(addRule_, &QPushButton::clicked, this, [this] { write(editor_.addingRule(model_->config().value())); });

    refresh();
    observeWhileAlive(this, model_->config(), [this](const Config&) {
        rules_.reset();
        refresh();
    });
    // The status changes with every poll, and field by field: the page
    // follows only the fields it shows.
    observeWhileAlive(this, model_->status(), [this](const EngineStatus& status) {
        const ShownStatus now = shownPart(status);
        if (now == shown_) return;
        const bool profileChanged = now.activeProfileID != shown_.activeProfileID;
        shown_ = now;
        if (profileChanged) refreshProfiles(model_->config().value());
        refreshRightNow();
    });
    observeWhileAlive(this, model_->frontmostAppName(), [this](const std::optional<std::string>&) { refreshRightNow(); });
}

void ProfilesTab::showEvent(QShowEvent* event) {
    select(ProfilesEditor::selectionOnAppearing(model_->config().value(), selection_->value()));
    QWidget::showEvent(event);
}

void ProfilesTab::write(Config config) { model_->setConfig(std::move(config)); }

void ProfilesTab::select(const std::string& profileID) { selection_->set(profileID); }

ProfilesTab::ShownStatus ProfilesTab::shownPart(const EngineStatus& status) {
    return {status.activeProfileID, status.activeProfileName, status.frontmostBundleID, status.frontmostTracking};
}

void ProfilesTab::refresh() {
    shown_ = shownPart(model_->status().value());
    const Config& config = model_->config().value();
    refreshProfiles(config);
    refreshRules(config);
    refreshRightNow();
}

ProfilesTab::ProfileRowWidgets ProfilesTab::makeProfileRow(const std::string& id) {
    ProfileRowWidgets widgets;
    widgets.id = id;
    widgets.row = new QWidget(this);
    auto* row = new QHBoxLayout(widgets.row);
    row->setContentsMargins(0, 2, 0, 2);

    auto* stack = new QVBoxLayout;
    stack->setSpacing(2);
    auto* title = new QHBoxLayout;
    title->setSpacing(6);
    widgets.name = new QLineEdit(widgets.row);
    QWidget* named = resettable(widgets.name, QStringLiteral("Profile name"), [this, id] {
        write(ProfilesEditor::resettingName(model_->config().value(), id));
    });
    named->setFixedWidth(fontScaled(220, named->font()));
    widgets.nameReset = named->findChild<ResetButton*>();
    title->addWidget(named);
    widgets.inUseBadge = badge(QStringLiteral("In use now"), widgets.row);
    widgets.defaultBadge = badge(QStringLiteral("Default"), widgets.row);
    title->addWidget(widgets.inUseBadge);
    title->addWidget(widgets.defaultBadge);
    paintBadges(widgets);
    title->addStretch(1);
    stack->addLayout(title);
    widgets.summary = new QLabel(widgets.row);
    applyTextStyle(widgets.summary, TextStyle::caption);
    applyTextColor(widgets.summary, SystemColor::secondary);
    stack->addWidget(widgets.summary);
    row->addLayout(stack, 1);

    widgets.makeDefault = new QPushButton(QStringLiteral("Make Default"), widgets.row);
    widgets.duplicate = new QPushButton(QStringLiteral("Duplicate"), widgets.row);
    widgets.remove = new QPushButton(QStringLiteral("Delete"), widgets.row);
    // Buttons at their own size, so they line up from row to row.
    for (QPushButton* button : {widgets.makeDefault, widgets.duplicate, widgets.remove}) {
        button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        row->addWidget(button);
    }
    // The three are one Tab stop: the arrow keys go from one to the next.
    new ArrowKeyGroup({widgets.makeDefault, widgets.duplicate, widgets.remove}, widgets.row);

    // Every change of the text is the user's, typed or set by a screen
    // reader; the page fills the field under a signal blocker.
    connect(widgets.name, &QLineEdit::textChanged, this, [this, id](const QString& typed) {
        write(ProfilesEditor::renaming(model_->config().value(), id, typed.toStdString()));
    });
    connect(widgets.makeDefault, &QPushButton::clicked, this,
            [this, id] { write(ProfilesEditor::makingDefault(model_->config().value(), id)); });
    connect(widgets.duplicate, &QPushButton::clicked, this, [this, id] {
        const Config& config = model_->config().value();
        const auto profile = config.profile(id);
        if (!profile) return;
        ProfilesEditor::Edit edit = editor_.duplicate(config, *profile);
        write(std::move(edit.config));
        select(edit.selection);
    });
    connect(widgets.remove, &QPushButton::clicked, this, [this, id] {
        ProfilesEditor::Edit edit = ProfilesEditor::deleting(model_->config().value(), id, selection_->value());
        write(std::move(edit.config));
        select(edit.selection);
    });
    return widgets;
}

void ProfilesTab::refreshProfiles(const Config& config) {
    std::vector<std::string> ids;
    for (const Profile& profile : config.profiles) ids.push_back(profile.id);
    // Rows are kept while the list keeps its identifiers, so typing a name
    // keeps the field and its cursor.
    if (!std::ranges::equal(profileRows_, ids, {}, &ProfileRowWidgets::id)) {
        for (ProfileRowWidgets& widgets : profileRows_) discard(widgets.row);
        profileRows_.clear();
        for (const std::string& id : ids) {
            profileRows_.push_back(makeProfileRow(id));
            profileList_->addWidget(profileRows_.back().row);
        }
    }
    const std::string& activeID = model_->status().value().activeProfileID;
    for (std::size_t i = 0; i < profileRows_.size(); ++i) {
        const Profile& profile = config.profiles[i];
        ProfileRowWidgets& widgets = profileRows_[i];
        showTextKeepingCursor(widgets.name, text(profile.name));
        widgets.inUseBadge->setVisible(profile.id == activeID);
        widgets.defaultBadge->setVisible(ProfilesEditor::isDefault(config, profile.id));
        widgets.summary->setText(text(ProfilesEditor::describe(profile)));
        widgets.makeDefault->setEnabled(!ProfilesEditor::isDefault(config, profile.id));
        widgets.remove->setEnabled(ProfilesEditor::canDelete(config));
        nameForReaders(widgets, config, i);
    }
}

void ProfilesTab::nameForReaders(const ProfileRowWidgets& widgets, const Config& config, std::size_t index) {
    // Each row's controls say which profile they act on, so that a reader
    // tells one row's Delete from another's.
    const QString place = QStringLiteral("profile %1").arg(index + 1);
    renameForReaders(widgets.name, QStringLiteral("Name of ") + place);
    if (widgets.nameReset)
        renameForReaders(widgets.nameReset, QStringLiteral("Reset the name of %1 to its default").arg(place));
    const QString profile = text(ProfilesEditor::profileReference(config, index));
    // "profile 3, “Canvas Copy”" reads with a comma before what follows.
    const QString made = profile.contains(QStringLiteral(", ")) ? profile + QStringLiteral(",") : profile;
    renameForReaders(widgets.makeDefault, QStringLiteral("Make %1 the default").arg(made));
    renameForReaders(widgets.duplicate, QStringLiteral("Duplicate ") + profile);
    renameForReaders(widgets.remove, QStringLiteral("Delete ") + profile);
}

void ProfilesTab::paintBadges(const ProfileRowWidgets& widgets) const {
    QColor inUseFill = systemColor(SystemColor::accent, palette());
    inUseFill.setAlphaF(0.15f);
    QColor quaternary = palette().color(QPalette::WindowText);
    quaternary.setAlphaF(0.1f);
    paintBadge(widgets.inUseBadge, inUseFill);
    paintBadge(widgets.defaultBadge, quaternary);
}

void ProfilesTab::changeEvent(QEvent* event) {
    // A style sheet is parsed and the badge restyled whenever it is set, so
    // the badges are painted when their colours change, not at every refresh.
    if (event->type() == QEvent::PaletteChange)
        for (const ProfileRowWidgets& widgets : profileRows_) paintBadges(widgets);
    QWidget::changeEvent(event);
}

void ProfilesTab::refreshRules(const Config& config) {
    ruleList_->setRules(config.ruleSet.rules, config.profiles);
    noRules_->setVisible(config.ruleSet.rules.empty());
}

std::vector<RuleRow*> ProfilesTab::ruleRows() const { return ruleList_->rows(); }

void ProfilesTab::refreshRightNow() {
    const EngineStatus& status = model_->status().value();
    frontmost_->setValue(text(ProfilesEditor::frontmostAppValue(model_->frontmostAppName().value(), status.frontmostTracking)));
    frontmost_->setHelp(text(ProfilesEditor::frontmostAppHelp(status.frontmostBundleID, status.frontmostTracking)));
    inUse_->setValue(text(status.activeProfileName));
    if (!rules_) rules_.emplace(model_->config().value().ruleSet);
    inUse_->setHelp(text(ProfilesEditor::matchExplanation(*rules_, status.frontmostBundleID)));
}

} // namespace ravolet
