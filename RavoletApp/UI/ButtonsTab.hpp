#pragma once

#include <QWidget>

#include <cstdint>
#include <map>
#include <memory>

#include "Core/Config.hpp"
#include "RavoletApp/Model/AppModel.hpp"

class QCheckBox;
class QLabel;
class QListWidget;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

namespace ravolet {

class BindingCard;
class Explain;
class NoticeBanner;
class ProfileBinding;

// The Buttons page: the bindable mouse buttons 3 to 15 with what each does in
// the edited profile, a switch that selects a button when it is pressed over
// the application, and the selected button's binding cards with the commands
// that add bindings or restore the factory ones. No per-control reset is
// shown anywhere on the page. Every edit writes the whole profile through the
// binding at once; showing the page writes nothing.
class ButtonsTab : public QWidget {
    Q_OBJECT
public:
    ButtonsTab(std::shared_ptr<AppModel> model, ProfileBinding& binding, QWidget* parent = nullptr);
    ~ButtonsTab() override;

    std::int64_t selectedButton() const { return selectedButton_; }
    void selectButton(std::int64_t button);

    // Finding a button by pressing it: while on, every press of a mouse
    // button other than left and right anywhere in the application is taken
    // (it reaches no window), and a press of buttons 3 to 15 selects it.
    bool isWatchingForPress() const { return watching_; }
    void startWatching();
    void stopWatching();

    QListWidget* buttonList() const { return list_; }
    // The summary line of a button's row.
    QString rowSummary(std::int64_t button) const;
    QCheckBox* findSwitch() const { return findSwitch_; }
    QLabel* titleLabel() const { return title_; }
    QPushButton* restoreButton() const { return restore_; }
    Explain* noteLabel() const { return note_; }
    // The cards of the selected button, in list order.
    std::vector<BindingCard*> cards() const;
    NoticeBanner* untouchedBanner() const { return banner_; }
    QPushButton* addJobButton() const { return addJob_; }
    QPushButton* addModifierVersionButton() const { return addModifierVersion_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QWidget* makeLeftPane();
    QWidget* makeRightPane();
    void refill();
    void refillList(const Profile& profile);
    void refillRightPane(const Profile& profile);
    void clearCards();
    void write(const Profile& profile);

    std::shared_ptr<AppModel> model_;
    ProfileBinding& binding_;
    const Config factory_;
    std::int64_t selectedButton_;
    bool watching_ = false;

    QListWidget* list_ = nullptr;
    struct Row {
        QLabel* name;
        QLabel* summary;
    };
    std::map<std::int64_t, Row> rows_;
    QCheckBox* findSwitch_ = nullptr;
    QLabel* title_ = nullptr;
    QScrollArea* rightPane_ = nullptr;
    QPushButton* restore_ = nullptr;
    Explain* note_ = nullptr;
    QVBoxLayout* cardsLayout_ = nullptr;
    // By the binding's position in the profile's list.
    std::map<std::size_t, BindingCard*> cards_;
    NoticeBanner* banner_ = nullptr;
    QPushButton* addJob_ = nullptr;
    QPushButton* addModifierVersion_ = nullptr;
};

} // namespace ravolet
