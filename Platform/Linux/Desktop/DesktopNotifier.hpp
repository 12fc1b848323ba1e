#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "Platform/Notifier.hpp"

typedef struct _GDBusConnection GDBusConnection;

namespace ravolet::platform {

// Notifications through the desktop's notification service
// (org.freedesktop.Notifications on the session bus), as "Ravolet" with its
// icon and desktop entry. The bus is reached at the first message; whether a
// service is there, and whether it reads markup in the body (the text is
// then escaped), is asked until one answers. A message is sent without
// waiting for the service to show it.
class DesktopNotifier final : public Notifier {
public:
    // `busAddress`: a bus of one's own; none for the session bus.
    explicit DesktopNotifier(std::optional<std::string> busAddress = std::nullopt);
    ~DesktopNotifier() override;
    DesktopNotifier(const DesktopNotifier&) = delete;
    DesktopNotifier& operator=(const DesktopNotifier&) = delete;

    void notify(const std::string& title, const std::string& body) override;

private:
    // Under the lock: the connection and the service's answer, once there.
    bool reachService();

    const std::optional<std::string> busAddress_;
    std::mutex lock_;
    GDBusConnection* connection_ = nullptr;
    bool serviceAnswered_ = false;
    bool readsMarkup_ = false;
};

} // namespace ravolet::platform
