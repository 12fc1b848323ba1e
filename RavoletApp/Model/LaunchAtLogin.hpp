#pragma once

#include <memory>
#include <optional>
#include <string>

#include "Platform/LoginItemService.hpp"
#include "Support/Observable.hpp"

namespace ravolet {

// Starting Ravolet when the user logs in: mirrors the login-item service's
// status, registers or unregisters on request, and keeps the last failure as
// text. The status is only ever what the service reports, never assumed from
// a request. Main thread only.
class LaunchAtLogin {
public:
    // Not registered and no error until the first refresh(); asks nothing yet.
    explicit LaunchAtLogin(std::shared_ptr<platform::LoginItemService> service);
    LaunchAtLogin(const LaunchAtLogin&) = delete;
    LaunchAtLogin& operator=(const LaunchAtLogin&) = delete;

    // Over this desktop's autostart entry.
    static std::shared_ptr<LaunchAtLogin> standard();

    const Observable<platform::LoginItemStatus>& status() const { return status_; }
    // The system's words for the last failed register or unregister.
    const Observable<std::optional<std::string>>& lastError() const { return lastError_; }

    // Reads the service's status.
    void refresh();
    // Clears the last error, asks the service to register (or unregister),
    // keeps its failure as text, and reads the status again in every case.
    void setEnabled(bool enabled);

private:
    const std::shared_ptr<platform::LoginItemService> service_;
    Observable<platform::LoginItemStatus> status_{platform::LoginItemStatus::notRegistered};
    Observable<std::optional<std::string>> lastError_;
};

} // namespace ravolet
