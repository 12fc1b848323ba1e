#include "RavoletApp/UI/RuleRow.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>
#include <limits>
#include <ranges>

#include "RavoletApp/UI/AccessibleName.hpp"
#include "RavoletApp/UI/AppPicker.hpp"
#include "RavoletApp/UI/ArrowKeyGroup.hpp"
#include "RavoletApp/UI/Explain.hpp"
#include "RavoletApp/UI/ResetButton.hpp"
#include "RavoletApp/UI/StepperButtons.hpp"
#include "RavoletApp/UI/Style.hpp"
#include "RavoletApp/UI/SymbolIcon.hpp"
#include "RavoletApp/UI/TextFields.hpp"
#include "RavoletApp/ViewModels/RuleRowModel.hpp"

namespace ravolet {

namespace {

QToolButton* symbolButton(const QString& symbol, const QString& name, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setIcon(symbolIcon(symbol));
    button->setAutoRaise(true);
    button->setAccessibleName(name);
    button->setToolTip(name);
    return button;
}

// The priority as one field, "Priority 10": its steps (the arrow keys, Page
// Up and Down by ten) go through the rule's own stepping, which keeps within
// -100 ... 100, and a number typed or set by a reader is the new priority. A
// stored priority beyond the stepper's range is shown as it is (within what
// the field can hold).
class PriorityField final : public QSpinBox {
public:
    explicit PriorityField(QWidget* parent) : QSpinBox(parent) {
        setPrefix(QStringLiteral("Priority "));
        setButtonSymbols(QAbstractSpinBox::NoButtons);
        setRange(static_cast<int>(ruleRow::minimumPriority), static_cast<int>(ruleRow::maximumPriority));
    }

    std::function<void(int steps)> stepped;

    void showPriority(std::int64_t priority) {
        const auto held = static_cast<int>(std::clamp<std::int64_t>(priority, std::numeric_limits<int>::min(),
                                                                    std::numeric_limits<int>::max()));
        setRange(std::min(held, static_cast<int>(ruleRow::minimumPriority)),
                 std::max(held, static_cast<int>(ruleRow::maximumPriority)));
        if (value() != held) setValue(held);
    }

    void stepBy(int steps) override {
        if (stepped) stepped(steps);
    }

protected:
    StepEnabled stepEnabled() const override {
        StepEnabled enabled = StepNone;
        if (value() < ruleRow::maximumPriority) enabled |= StepUpEnabled;
        if (value() > ruleRow::minimumPriority) enabled |= StepDownEnabled;
        return enabled;
    }
};

QString text(const std::string& s) { return QString::fromStdString(s); }

} // namespace

RuleRow::RuleRow(std::shared_ptr<AppModel> model, QWidget* parent)
    : QWidget(parent), model_(std::move(model)),
      rule_("", BundleIDPattern::exact(""), std::string(Profile::defaultProfileID), 0, true) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 6, 0, 6);
    column->setSpacing(8);

    // Line 1: on, the application, and the list operations.
    auto* first = new QHBoxLayout;
    enabled_ = new QCheckBox(QStringLiteral("On"), this);
    first->addWidget(resettable(enabled_, QStringLiteral("Rule enabled"), [this] {
        Rule changed = rule_;
        changed.isEnabled = ruleRow::factoryRule(rule_, profiles_).isEnabled;
        edit(changed);
    }));
    icon_ = new AppIconView(model_, 16, this);
    first->addWidget(icon_);
    pattern_ = new QLineEdit(this);
    pattern_->setPlaceholderText(QStringLiteral("Application ID, e.g. org.mozilla.firefox"));
    pattern_->setAccessibleName(QStringLiteral("App match"));
    pattern_->setMinimumWidth(fontScaled(160, pattern_->font()));
    first->addWidget(resettable(pattern_, QStringLiteral("App match"), [this] {
        Rule changed = rule_;
        changed.pattern = ruleRow::factoryRule(rule_, profiles_).pattern;
        edit(changed);
    }), 1);
    picker_ = new AppPickerButton(model_, QStringLiteral("Choose App…"), AppChoicePlace::rule, this);
    first->addWidget(picker_);
    raise_ = symbolButton(QStringLiteral("arrow.up"), QStringLiteral("Move this rule up"), this);
    lower_ = symbolButton(QStringLiteral("arrow.down"), QStringLiteral("Move this rule down"), this);
    delete_ = symbolButton(QStringLiteral("trash"), QStringLiteral("Delete this rule"), this);
    first->addWidget(raise_);
    first->addWidget(lower_);
    first->addWidget(delete_);
    column->addLayout(first);

    // Line 2: the profile and the priority.
    auto* second = new QHBoxLayout;
    auto* profileBox = new QWidget(this);
    auto* profileLayout = new QHBoxLayout(profileBox);
    profileLayout->setContentsMargins(0, 0, 0, 0);
    profileLabel_ = new QLabel(QStringLiteral("Use profile"), profileBox);
    profileLayout->addWidget(profileLabel_);
    profile_ = new QComboBox(profileBox);
    // As wide as the longest profile name in the desktop's font, up to a
    // bound a very long name cannot push the row past.
    profile_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    profile_->setMaximumWidth(profile_->fontMetrics().averageCharWidth() * 40);
    profileLayout->addWidget(profile_, 1);
    QWidget* profileRow = resettable(profileBox, QStringLiteral("Rule profile"), [this] {
        Rule changed = rule_;
        changed.profileID = ruleRow::factoryRule(rule_, profiles_).profileID;
        edit(changed);
    });
    second->addWidget(profileRow);

    auto* priorityBox = new QWidget(this);
    auto* priorityLayout = new QHBoxLayout(priorityBox);
    priorityLayout->setContentsMargins(0, 0, 0, 0);
    priorityLayout->setSpacing(4);
    auto* priority = new PriorityField(priorityBox);
    priority_ = priority;
    // Wide enough for any priority of the stepper's range, so the arrows stay
    // put while stepping.
    priority_->setMinimumWidth(
        priority_->fontMetrics().horizontalAdvance(QString::fromStdString(ruleRow::priorityTitle(-100))) +
        fontScaled(16, priority_->font()));
    priorityLayout->addWidget(priority_);
    priorityStepper_ = new StepperButtons(priorityBox);
    priorityLayout->addWidget(priorityStepper_);
    QWidget* priorityRow = resettable(priorityBox, QStringLiteral("Rule priority"), [this] {
        Rule changed = rule_;
        changed.priority = ruleRow::factoryRule(rule_, profiles_).priority;
        edit(changed);
    });
    priorityRow->setMaximumWidth(fontScaled(220, priorityRow->font()));
    second->addWidget(priorityRow);
    second->addStretch(1);
    column->addLayout(second);

    // Line 3: what the pattern matches.
    explanation_ = new Explain(QString(), this);
    column->addWidget(explanation_);

    connect(enabled_, &QCheckBox::toggled, this, [this](bool on) {
        Rule changed = rule_;
        changed.isEnabled = on;
        edit(changed);
    });
    // Every change of the text is the user's, typed or set by a screen
    // reader; fill() sets it under a signal blocker.
    connect(pattern_, &QLineEdit::textChanged, this,
            [this](const QString& typed) { edit(ruleRow::withPatternText(rule_, typed.toStdString())); });
    connect(picker_, &AppPickerButton::chosen, this, [this](const QString& bundleID) {
        edit(ruleRow::withPickedApplication(rule_, bundleID.toStdString()));
    });
    connect(profile_, &QComboBox::activated, this, [this](int index) {
        Rule changed = rule_;
        changed.profileID = profile_->itemData(index).toString().toStdString();
        edit(changed);
    });
    const auto step = [this](std::int64_t steps) {
        Rule changed = rule_;
        changed.priority = ruleRow::steppedPriority(rule_.priority, steps);
        edit(changed);
    };
    priority->stepped = step;
    connect(priorityStepper_->upButton(), &QToolButton::clicked, this, [step] { step(1); });
    connect(priorityStepper_->downButton(), &QToolButton::clicked, this, [step] { step(-1); });
    // Typed, or set by a reader; fill() sets it under a signal blocker.
    connect(priority_, &QSpinBox::valueChanged, this, [this](int typed) {
        Rule changed = rule_;
        changed.priority = std::clamp<std::int64_t>(typed, ruleRow::minimumPriority, ruleRow::maximumPriority);
        edit(changed);
    });
    // Moving and deleting are one stop: Tab passes them at once.
    new ArrowKeyGroup({raise_, lower_, delete_}, this);
    connect(raise_, &QToolButton::clicked, this, &RuleRow::raiseRequested);
    connect(lower_, &QToolButton::clicked, this, &RuleRow::lowerRequested);
    connect(delete_, &QToolButton::clicked, this, &RuleRow::deleteRequested);
    nameForReaders();
    fill();
}

void RuleRow::setRule(const Rule& rule, const std::vector<Profile>& profiles, bool isFirst, bool isLast,
                      std::size_t number) {
    rule_ = rule;
    profiles_ = profiles;
    isFirst_ = isFirst;
    isLast_ = isLast;
    if (number != number_) {
        number_ = number;
        nameForReaders();
    }
    fill();
}

void RuleRow::nameForReaders() {
    // By the rule's place, which typing in the row leaves as it is (its
    // pattern would rename the row at every key).
    const QString rule = QStringLiteral("rule %1").arg(number_);
    enabled_->setAccessibleName(QStringLiteral("Rule %1 on").arg(number_));
    pattern_->setAccessibleName(QStringLiteral("App match of ") + rule);
    picker_->setAccessibleName(QStringLiteral("Choose App… for ") + rule);
    raise_->setAccessibleName(QStringLiteral("Move %1 up").arg(rule));
    lower_->setAccessibleName(QStringLiteral("Move %1 down").arg(rule));
    delete_->setAccessibleName(QStringLiteral("Delete ") + rule);
    // A reader hears the picker's choice with the label that names it.
    labelForReaders(profileLabel_, profile_, QStringLiteral("Use profile for ") + rule);
    priority_->setAccessibleName(QStringLiteral("Priority of ") + rule);
    priorityStepper_->setNamesFor(QStringLiteral("the priority of ") + rule);
    const std::pair<const char*, const char*> resets[] = {{"Rule enabled", "switch"},
                                                          {"App match", "app match"},
                                                          {"Rule profile", "profile"},
                                                          {"Rule priority", "priority"}};
    for (const auto& [title, what] : resets)
        if (ResetButton* reset = resetButton(QString::fromUtf8(title)))
            reset->setAccessibleName(
                QStringLiteral("Reset the %1 of %2 to its default").arg(QString::fromUtf8(what), rule));
}

QToolButton* RuleRow::priorityUpButton() const { return priorityStepper_->upButton(); }

QToolButton* RuleRow::priorityDownButton() const { return priorityStepper_->downButton(); }

ResetButton* RuleRow::resetButton(const QString& title) const {
    for (ResetButton* button : findChildren<ResetButton*>())
        if (button->title() == title) return button;
    return nullptr;
}

void RuleRow::edit(const Rule& rule) {
    if (rule == rule_) {
        fill(); // the field may hold text that parses to the same pattern
        return;
    }
    rule_ = rule;
    fill();
    Q_EMIT ruleEdited(rule_);
}

void RuleRow::fill() {
    {
        const QSignalBlocker blocker(enabled_);
        enabled_->setChecked(rule_.isEnabled);
    }
    // The field shows the pattern as parsed.
    showTextKeepingCursor(pattern_, text(ruleRow::patternText(rule_.pattern)));
    const auto iconID = ruleRow::iconBundleID(rule_.pattern);
    icon_->setVisible(iconID.has_value());
    if (iconID && icon_->bundleID() != text(*iconID)) icon_->setBundleID(text(*iconID));

    {
        const QSignalBlocker blocker(profile_);
        // The entries are replaced only when the profiles changed, so an
        // open list is not disturbed by a refill.
        const bool same = profile_->count() == static_cast<int>(profiles_.size()) &&
                          std::ranges::all_of(std::views::iota(0, profile_->count()), [&](int i) {
                              const Profile& profile = profiles_[static_cast<std::size_t>(i)];
                              return profile_->itemText(i) == text(profile.name) &&
                                     profile_->itemData(i).toString() == text(profile.id);
                          });
        if (!same) {
            profile_->clear();
            for (const Profile& profile : profiles_) profile_->addItem(text(profile.name), text(profile.id));
        }
        // A profile that is not listed shows no entry, and stays as stored.
        profile_->setCurrentIndex(profile_->findData(text(rule_.profileID)));
    }
    {
        const QSignalBlocker blocker(priority_);
        static_cast<PriorityField*>(priority_)->showPriority(rule_.priority);
    }
    priorityStepper_->setLimits(rule_.priority < ruleRow::maximumPriority, rule_.priority > ruleRow::minimumPriority);
    raise_->setEnabled(!isFirst_);
    lower_->setEnabled(!isLast_);
    explanation_->setText(text(ruleRow::explanation(rule_.pattern)));
}

} // namespace ravolet
