#include "RavoletApp/Model/GatedHIDPPControl.hpp"

#include "Platform/AsyncSequence.hpp"

namespace ravolet {

GatedHIDPPControl::GatedHIDPPControl(std::shared_ptr<HIDPPDevice> device, bool enabled)
    : device(device), live_(std::move(device)), enabled_(enabled) {}

bool GatedHIDPPControl::isEnabled() const {
    std::lock_guard lock(lock_);
    return enabled_;
}

void GatedHIDPPControl::setEnabled(bool enabled) {
    std::lock_guard lock(lock_);
    enabled_ = enabled;
}

template <class T>
void GatedHIDPPControl::skip(HIDPPExecutor executor, HIDPPCompletion<T> completion, HIDPPResult<T> answer) {
    platform::deliverOn(executor ? executor : device->queue(),
                        [completion = std::move(completion), answer = std::move(answer)]() mutable {
                            completion(std::move(answer));
                        });
}

void GatedHIDPPControl::setDPI(std::int64_t dpi, HIDPPExecutor executor, HIDPPCompletion<std::int64_t> completion) {
    if (!isEnabled()) return skip<std::int64_t>(std::move(executor), std::move(completion), dpi);
    live_.setDPI(dpi, std::move(executor), std::move(completion));
}

void GatedHIDPPControl::setReportRate(std::int64_t hertz, HIDPPExecutor executor, HIDPPCompletion<void> completion) {
    if (!isEnabled()) return skip<void>(std::move(executor), std::move(completion), {});
    live_.setReportRate(hertz, std::move(executor), std::move(completion));
}

void GatedHIDPPControl::setWheelHighResolution(bool on, HIDPPExecutor executor, HIDPPCompletion<bool> completion) {
    if (!isEnabled()) return skip<bool>(std::move(executor), std::move(completion), on);
    live_.setWheelHighResolution(on, std::move(executor), std::move(completion));
}

void GatedHIDPPControl::readDPI(HIDPPExecutor executor, HIDPPCompletion<std::int64_t> completion) {
    live_.readDPI(std::move(executor), std::move(completion));
}

} // namespace ravolet
