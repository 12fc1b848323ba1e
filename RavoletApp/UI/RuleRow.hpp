#pragma once

#include <QWidget>

#include <memory>
#include <vector>

#include "Core/Profile.hpp"
#include "Core/Rule.hpp"
#include "RavoletApp/Model/AppModel.hpp"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QToolButton;

namespace ravolet {

class AppIconView;
class AppPickerButton;
class Explain;
class ResetButton;
class StepperButtons;

// The editor of one per-application rule: whether it is on, which
// applications it matches (typed, or picked from the running or installed
// ones), which profile it selects and with what priority, buttons to move it
// up or down or delete it, and a sentence saying what the pattern matches.
// From the keyboard each setting is one stop (its reset is the reset key in
// it), the priority is stepped with the arrow keys, and the three list
// buttons are one stop whose arrow keys go from one to the next.
// setRule() fills the controls and never announces anything; every user edit
// announces the whole new rule through ruleEdited(), and the list operations
// are left to the page.
class RuleRow : public QWidget {
    Q_OBJECT
public:
    explicit RuleRow(std::shared_ptr<AppModel> model, QWidget* parent = nullptr);

    // `number` is the rule's place in the list, from 1: the row's controls
    // say which rule they act on by it ("Delete rule 2").
    void setRule(const Rule& rule, const std::vector<Profile>& profiles, bool isFirst, bool isLast,
                 std::size_t number = 1);
    const Rule& rule() const { return rule_; }

    QCheckBox* enabledBox() const { return enabled_; }
    QLineEdit* patternField() const { return pattern_; }
    AppIconView* iconView() const { return icon_; }
    AppPickerButton* appPicker() const { return picker_; }
    QToolButton* raiseButton() const { return raise_; }
    QToolButton* lowerButton() const { return lower_; }
    QToolButton* deleteButton() const { return delete_; }
    QComboBox* profilePicker() const { return profile_; }
    // "Priority 10", stepped by its arrows or the arrow keys, or typed.
    QSpinBox* priorityField() const { return priority_; }
    QToolButton* priorityUpButton() const;
    QToolButton* priorityDownButton() const;
    Explain* explanationLabel() const { return explanation_; }
    // "Rule enabled", "App match", "Rule profile", "Rule priority".
    ResetButton* resetButton(const QString& title) const;

Q_SIGNALS:
    void ruleEdited(const ravolet::Rule& rule);
    void raiseRequested();
    void lowerRequested();
    void deleteRequested();

private:
    void edit(const Rule& rule);
    void fill();
    void nameForReaders();

    std::shared_ptr<AppModel> model_;
    Rule rule_;
    std::vector<Profile> profiles_;
    bool isFirst_ = true;
    bool isLast_ = true;
    std::size_t number_ = 1;

    QCheckBox* enabled_ = nullptr;
    AppIconView* icon_ = nullptr;
    QLineEdit* pattern_ = nullptr;
    AppPickerButton* picker_ = nullptr;
    QToolButton* raise_ = nullptr;
    QToolButton* lower_ = nullptr;
    QToolButton* delete_ = nullptr;
    QLabel* profileLabel_ = nullptr;
    QComboBox* profile_ = nullptr;
    QSpinBox* priority_ = nullptr;
    StepperButtons* priorityStepper_ = nullptr;
    Explain* explanation_ = nullptr;
};

} // namespace ravolet
