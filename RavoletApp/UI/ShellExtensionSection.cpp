#include "RavoletApp/UI/ShellExtensionSection.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>

#include "RavoletApp/UI/Explain.hpp"
#include "RavoletApp/UI/QtText.hpp"
#include "RavoletApp/UI/Style.hpp"
#include "RavoletApp/ViewModels/ShellExtensionOffer.hpp"

namespace ravolet {

ShellExtensionSection::ShellExtensionSection(std::shared_ptr<AppModel> model, QWidget* parent)
    : PageSection(qtText(ShellExtensionOffer::title), parent), model_(std::move(model)) {
    about_ = addExplain(qtText(ShellExtensionOffer::about));
    status_ = add(new QLabel(this));
    status_->setWordWrap(true);
    applyTextStyle(status_, TextStyle::body);
    auto* buttons = new QHBoxLayout;
    action_ = new QPushButton(this);
    remove_ = new QPushButton(qtText(ShellExtensionOffer::removeTitle), this);
    buttons->addWidget(action_);
    buttons->addWidget(remove_);
    buttons->addStretch(1);
    rows()->addLayout(buttons);
    problem_ = add(new QLabel(this));
    problem_->setWordWrap(true);
    problem_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    applyTextStyle(problem_, TextStyle::callout);

    connect(action_, &QPushButton::clicked, this, [this] { run(true); });
    connect(remove_, &QPushButton::clicked, this, [this] { run(false); });
    following_ = model_->dependencies().workspace->subscribeToActivations(
        model_->dependencies().ui, [this](const platform::ApplicationActivation&) { refresh(); });
    refresh();
}

void ShellExtensionSection::refresh() {
    platform::Workspace& workspace = *model_->dependencies().workspace;
    const ShellExtensionOffer offer = shellExtensionOffer(workspace.frontmostTracking());
    const bool available = offer.shown && workspace.frontmostExtension();
    setVisible(available);
    if (!available) return;
    status_->setText(qtText(offer.status));
    action_->setText(qtText(actionTitle(offer.action)));
    action_->setVisible(offer.action != ShellExtensionOffer::Action::none);
    remove_->setVisible(offer.removable);
    action_->setEnabled(!working_);
    remove_->setEnabled(!working_);
    problem_->setText(lastProblem_ ? qtText(*lastProblem_) : QString());
    problem_->setVisible(lastProblem_.has_value());
}

void ShellExtensionSection::run(bool installing) {
    platform::FrontmostExtension* extension = model_->dependencies().workspace->frontmostExtension();
    if (!extension || working_) return;
    working_ = true;
    lastProblem_.reset();
    refresh();
    auto done = [section = QPointer(this)](std::optional<std::string> error) {
        if (!section) return;
        section->working_ = false;
        section->lastProblem_ = std::move(error);
        section->refresh();
    };
    if (installing) extension->install(model_->dependencies().ui, std::move(done));
    else extension->remove(model_->dependencies().ui, std::move(done));
}

} // namespace ravolet
