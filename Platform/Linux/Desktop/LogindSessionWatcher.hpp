#pragma once

#include <memory>

#include "Platform/SessionWatcher.hpp"

namespace ravolet::platform {

// This process's login session as logind (org.freedesktop.login1 on the
// system bus) keeps it: the session's Active property, followed through its
// PropertiesChanged signal. The session is the one XDG_SESSION_ID names,
// else logind's "auto": the process's own session, or for a program started
// outside any (by the user's service manager, as desktops now start their
// autostart entries) its user's graphical one. Where there is no system bus,
// no logind or no such session, the session counts as in front for ever.
//
// Finding the session takes calls that may each wait seconds for an answer:
// they are made on a thread of their own, and until logind has answered the
// session counts as in front.
class LogindSessionWatcher final : public SessionWatcher {
public:
    LogindSessionWatcher();
    // Waits for the calls under way (their time limits bound the wait).
    ~LogindSessionWatcher() override;

    bool isActive() const override;

    struct State;

private:
    std::unique_ptr<State> state_;
};

} // namespace ravolet::platform
