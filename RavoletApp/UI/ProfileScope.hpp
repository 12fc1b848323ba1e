#pragma once

#include <QComboBox>
#include <QLabel>
#include <QObject>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>

#include "Core/Profile.hpp"
#include "RavoletApp/Model/AppModel.hpp"
#include "Support/Observable.hpp"

namespace ravolet {

// The identifier of the profile the profile pages edit. The settings window
// owns one and shares it with every profile page and the Profiles page, so
// switching pages keeps the same profile selected.
using ProfileSelection = Observable<std::string>;

// A page's two-way tie to the profile it edits. Reading gives the selected
// profile (else the document's first, else the built-in default); writing puts
// the value in place of the document's profile with the same identifier, and
// the model saves and updates the engine as for every edit. changed() is
// emitted whenever what value() gives may have changed, so the page refills
// its controls (under signal blockers: showing never writes).
class ProfileBinding : public QObject {
    Q_OBJECT
public:
    ProfileBinding(std::shared_ptr<AppModel> model, std::shared_ptr<ProfileSelection> selection,
                   QObject* parent = nullptr);

    Profile value() const;
    void set(const Profile& profile);
    // Reads the profile, lets edit change it and writes it back whole.
    void edit(const std::function<void(Profile&)>& change);

    AppModel& model() const { return *model_; }

Q_SIGNALS:
    void changed();

private:
    std::shared_ptr<AppModel> model_;
    std::shared_ptr<ProfileSelection> selection_;
};

// The strip above a profile page: the "Editing profile" picker with its reset,
// a line saying whether that profile is in use right now (or which one the
// front application uses), a divider, then the page built over the binding.
class ProfileScope : public QWidget {
    Q_OBJECT
public:
    using ContentFactory = std::function<QWidget*(ProfileBinding& binding)>;

    ProfileScope(std::shared_ptr<AppModel> model, std::shared_ptr<ProfileSelection> selection,
                 const ContentFactory& makeContent, QWidget* parent = nullptr);

    ProfileBinding& binding() const { return *binding_; }
    QComboBox* picker() const { return picker_; }
    QWidget* pickerResetButton() const { return pickerReset_; }
    QLabel* inUseLabel() const { return inUseText_; }
    QWidget* content() const { return content_; }

private:
    void fillPicker();
    void refreshInUseLine();

    std::shared_ptr<AppModel> model_;
    std::shared_ptr<ProfileSelection> selection_;
    ProfileBinding* binding_ = nullptr;
    QComboBox* picker_ = nullptr;
    QWidget* pickerReset_ = nullptr;
    QLabel* inUseIcon_ = nullptr;
    QLabel* inUseText_ = nullptr;
    QWidget* content_ = nullptr;
};

} // namespace ravolet
