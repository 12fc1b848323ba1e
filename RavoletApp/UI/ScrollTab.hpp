#pragma once

#include <QWidget>

#include <array>
#include <functional>
#include <memory>

#include "RavoletApp/Model/AppModel.hpp"
#include "RavoletApp/ViewModels/ScrollPageRules.hpp"

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QPushButton;
class QToolButton;

namespace ravolet {

class ProfileBinding;
class ScrollPreview;
class ValueSlider;

// The "Scroll" page: the smooth-scrolling settings of the edited profile, in
// sections, with "Try It" showing what one wheel click does with them. It
// keeps no copy of the settings: every refill reads the profile through the
// binding, and every edit writes the whole profile back through it.
class ScrollTab : public QWidget {
    Q_OBJECT
public:
    ScrollTab(std::shared_ptr<AppModel> model, ProfileBinding& binding, QWidget* parent = nullptr);

    enum class Section { smoothScrolling, directions, feel, acceleration, tryIt, advanced };

    QWidget* section(Section which) const { return sections_.at(static_cast<std::size_t>(which)); }
    QCheckBox* smoothingSwitch() const { return smoothing_; }
    QCheckBox* axisToggle(ScrollAxis axis) const { return axis == ScrollAxis::vertical ? vertical_ : horizontal_; }
    QComboBox* activationPicker() const { return activation_; }
    QComboBox* glideShapePicker() const { return glideShape_; }
    QCheckBox* reverseToggle() const { return reverse_; }
    QCheckBox* accelerationToggle() const { return acceleration_; }
    ValueSlider* slider(ScrollSlider which) const { return sliders_.at(static_cast<std::size_t>(which)); }
    QToolButton* advancedDisclosure() const { return advancedDisclosure_; }
    QWidget* advancedContent() const { return advancedContent_; }
    QPushButton* fullResetButton() const { return fullReset_; }
    ScrollPreview* preview() const { return preview_; }
    bool showsAdvanced() const { return showsAdvanced_; }
    // Folds "Advanced" open or shut; the settings are not touched.
    void setShowsAdvanced(bool shows);

private:
    void refill();
    void editScroll(const std::function<void(ScrollSettings&)>& change);

    std::shared_ptr<AppModel> model_;
    ProfileBinding& binding_;
    bool showsAdvanced_ = false;

    std::array<QWidget*, 6> sections_{};
    QCheckBox* smoothing_ = nullptr;
    QCheckBox* vertical_ = nullptr;
    QCheckBox* horizontal_ = nullptr;
    QComboBox* activation_ = nullptr;
    QComboBox* glideShape_ = nullptr;
    QCheckBox* reverse_ = nullptr;
    QCheckBox* acceleration_ = nullptr;
    std::array<ValueSlider*, 6> sliders_{};
    QToolButton* advancedDisclosure_ = nullptr;
    QWidget* advancedContent_ = nullptr;
    QPushButton* fullReset_ = nullptr;
    ScrollPreview* preview_ = nullptr;
};

} // namespace ravolet
