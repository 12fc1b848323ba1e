#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <vector>

namespace ravolet {

// Controls that are one Tab stop together, as a strip of tabs or a toolbar is:
// Tab reaches one of them, and the arrow keys move the focus along the rest
// (Left and Up back, Right and Down on, as the text runs; Home and End to
// the ends), passing over those disabled or hidden. While the focus is in the
// group the stop is the member that has it; once it leaves, the group's home.
// A click, or a reader, still puts the focus on any member.
class ArrowKeyGroup final : public QObject {
public:
    // The members in the order the arrows go; the group lives as long as
    // `parent`.
    ArrowKeyGroup(std::vector<QWidget*> members, QObject* parent);

    // Where Tab enters the group; the first member that can take the focus
    // when none is given or it cannot.
    void setHome(std::function<QWidget*()> home);
    // Works out the stop again, after the home changed.
    void refresh();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Member {
        QPointer<QWidget> widget;
        // Its focus policy while it is not the stop.
        Qt::FocusPolicy withoutTab;
    };

    QWidget* stop() const;
    void moveFocus(QWidget* from, int key);

    std::vector<Member> members_;
    std::function<QWidget*()> home_;
};

} // namespace ravolet
