#pragma once

#include <memory>
#include <optional>
#include <string>

#include "Platform/Subscription.hpp"
#include "RavoletApp/Model/AppModel.hpp"
#include "RavoletApp/UI/PageSection.hpp"

class QLabel;
class QPushButton;

namespace ravolet {

class Explain;

// Ravolet's GNOME Shell extension, offered to the user (see
// ShellExtensionOffer): shown only where GNOME Shell tells which app is in
// front, on the Profiles page and the set-up window's last page. It follows
// the workspace's account of the extension as it changes; its buttons hand
// the work to the workspace's extension and show what went wrong, if
// anything, until the next press.
class ShellExtensionSection : public PageSection {
    Q_OBJECT
public:
    explicit ShellExtensionSection(std::shared_ptr<AppModel> model, QWidget* parent = nullptr);

    Explain* aboutLabel() const { return about_; }
    QLabel* statusLabel() const { return status_; }
    QLabel* problemLabel() const { return problem_; }
    QPushButton* actionButton() const { return action_; }
    QPushButton* removeButton() const { return remove_; }

private:
    void refresh();
    void run(bool installing);

    const std::shared_ptr<AppModel> model_;
    platform::Subscription following_;
    // While an install or removal is under way its buttons stay inert.
    bool working_ = false;
    std::optional<std::string> lastProblem_;
    Explain* about_ = nullptr;
    QLabel* status_ = nullptr;
    QLabel* problem_ = nullptr;
    QPushButton* action_ = nullptr;
    QPushButton* remove_ = nullptr;
};

} // namespace ravolet
