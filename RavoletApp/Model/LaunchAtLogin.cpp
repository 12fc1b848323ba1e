#include "RavoletApp/Model/LaunchAtLogin.hpp"

#include "Platform/Linux/AutostartLoginItemService.hpp"

namespace ravolet {

LaunchAtLogin::LaunchAtLogin(std::shared_ptr<platform::LoginItemService> service) : service_(std::move(service)) {}

std::shared_ptr<LaunchAtLogin> LaunchAtLogin::standard() {
    return std::make_shared<LaunchAtLogin>(platform::AutostartLoginItemService::standard());
}

void LaunchAtLogin::refresh() { status_.set(service_->status()); }

void LaunchAtLogin::setEnabled(bool enabled) {
    lastError_.set(std::nullopt);
    const platform::LoginItemResult result = enabled ? service_->registerItem() : service_->unregisterItem();
    if (!result) lastError_.set(result.error());
    refresh();
}

} // namespace ravolet
