#pragma once

#include <QWidget>

#include <memory>
#include <vector>

#include "Core/ButtonBinding.hpp"
#include "RavoletApp/Model/AppModel.hpp"

class QCheckBox;
class QLabel;
class QToolButton;

namespace ravolet {

class ActionEditor;
class Explain;

// The editor of one button binding on the Buttons page: its on/off switch,
// the modifiers that must be held for it, and the action editor (shown but
// not editable while the binding is off). The program fills it with
// setBinding(), which never reports back; every user edit emits
// bindingEdited with the whole new binding (its button never changes).
class BindingCard : public QWidget {
    Q_OBJECT
public:
    explicit BindingCard(std::shared_ptr<AppModel> model, QWidget* parent = nullptr);

    void setBinding(const ButtonBinding& binding, const Action& defaultAction);
    // Which row of the page the card is ("binding 2"), which its controls'
    // names, and its editor's, say to a reader; none by default.
    void setReaderRow(const QString& row);
    const ButtonBinding& binding() const { return binding_; }

    QCheckBox* enabledSwitch() const { return enabled_; }
    QLabel* headerLabel() const { return header_; }
    QToolButton* deleteButton() const { return delete_; }
    // The checkbox of one of ModifierFlags::editable; null for other flags.
    QCheckBox* modifierCheckBox(ModifierFlags flag) const;
    ActionEditor* actionEditor() const { return editor_; }
    // Why an Fn binding cannot fire; shown while the binding needs Fn.
    Explain* fnNote() const { return fnNote_; }

Q_SIGNALS:
    void bindingEdited(const ravolet::ButtonBinding& binding);
    void deleteRequested();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void edit(const ButtonBinding& binding);
    QString modifierName(ModifierFlags flag) const;

    ButtonBinding binding_;
    QString readerRow_;
    QCheckBox* enabled_;
    QLabel* header_;
    QToolButton* delete_;
    std::vector<std::pair<ModifierFlags, QCheckBox*>> modifiers_;
    Explain* fnNote_;
    ActionEditor* editor_;
};

} // namespace ravolet
