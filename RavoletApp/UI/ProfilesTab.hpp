#pragma once

#include <QWidget>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "RavoletApp/Model/AppModel.hpp"
#include "RavoletApp/UI/ProfileScope.hpp"
#include "RavoletApp/ViewModels/ProfilesEditor.hpp"

class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;

namespace ravolet {

class Explain;
class FactRow;
class ResetButton;
class RuleList;
class RuleRow;
class ShellExtensionSection;

// The Profiles page: every profile with its name, summary and badges, and
// Make Default, Duplicate and Delete; the per-application rules, each in a
// rule row (made as they scroll into view: see RuleList); and which application is in front and which profile is in use,
// with the reason. Every edit replaces the model's document; the page moves
// the shared profile selection after Duplicate, Add a Profile, deleting the
// selected profile, and on coming on screen when it names no profile.
class ProfilesTab : public QWidget {
    Q_OBJECT
public:
    ProfilesTab(std::shared_ptr<AppModel> model, std::shared_ptr<ProfileSelection> selection,
                QWidget* parent = nullptr);

    // Replaces the source of fresh identifiers (tests make them predictable).
    void setEditor(ProfilesEditor editor) { editor_ = std::move(editor); }

    struct ProfileRowWidgets {
        std::string id;
        QWidget* row = nullptr;
        QLineEdit* name = nullptr;
        ResetButton* nameReset = nullptr;
        QLabel* inUseBadge = nullptr;
        QLabel* defaultBadge = nullptr;
        QLabel* summary = nullptr;
        QPushButton* makeDefault = nullptr;
        QPushButton* duplicate = nullptr;
        QPushButton* remove = nullptr;
    };
    const std::vector<ProfileRowWidgets>& profileRows() const { return profileRows_; }
    // The rule rows made now (those in view and near it), in list order.
    std::vector<RuleRow*> ruleRows() const;
    RuleList* ruleList() const { return ruleList_; }
    QPushButton* addProfileButton() const { return addProfile_; }
    ResetButton* defaultProfileReset() const { return defaultReset_; }
    Explain* noRulesNote() const { return noRules_; }
    QPushButton* addRuleButton() const { return addRule_; }
    FactRow* frontmostFact() const { return frontmost_; }
    FactRow* profileInUseFact() const { return inUse_; }
    // Shown on GNOME only.
    ShellExtensionSection* shellExtensionSection() const { return shellExtension_; }

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void refresh();
    void refreshProfiles(const Config& config);
    void refreshRules(const Config& config);
    void refreshRightNow();
    ProfileRowWidgets makeProfileRow(const std::string& id);
    void paintBadges(const ProfileRowWidgets& widgets) const;
    static void nameForReaders(const ProfileRowWidgets& widgets, const Config& config, std::size_t index);

    // What of the engine's status the page shows.
    struct ShownStatus {
        std::string activeProfileID;
        std::string activeProfileName;
        std::optional<std::string> frontmostBundleID;
        platform::FrontmostTracking frontmostTracking;
        friend bool operator==(const ShownStatus&, const ShownStatus&) = default;
    };
    static ShownStatus shownPart(const EngineStatus& status);
    void write(Config config);
    void select(const std::string& profileID);

    std::shared_ptr<AppModel> model_;
    std::shared_ptr<ProfileSelection> selection_;
    ProfilesEditor editor_;
    // The document's rules, filed when the reason for the profile in use is
    // first asked for after a change of the document.
    std::optional<RuleSetIndex> rules_;
    // As last shown.
    ShownStatus shown_;

    QVBoxLayout* profileList_ = nullptr;
    std::vector<ProfileRowWidgets> profileRows_;
    QPushButton* addProfile_ = nullptr;
    ResetButton* defaultReset_ = nullptr;
    Explain* noRules_ = nullptr;
    RuleList* ruleList_ = nullptr;
    QPushButton* addRule_ = nullptr;
    FactRow* frontmost_ = nullptr;
    FactRow* inUse_ = nullptr;
    ShellExtensionSection* shellExtension_ = nullptr;
};

} // namespace ravolet
