#include "RavoletEngine/Coordination/LiveHIDPPControl.hpp"

#include <fmt/format.h>

#include "Platform/AsyncSequence.hpp"

namespace ravolet {

namespace {

constexpr std::uint8_t sensor = 0;

// The completion, handed the field it wants from the device's answer.
template <class From, class To, class Pick>
HIDPPCompletion<From> picking(HIDPPCompletion<To> completion, Pick pick) {
    return [completion = std::move(completion), pick = std::move(pick)](HIDPPResult<From> result) mutable {
        if (!result) return completion(std::unexpected(std::move(result.error())));
        completion(pick(*result));
    };
}

} // namespace

void LiveHIDPPControl::setDPI(std::int64_t dpi, HIDPPExecutor executor, HIDPPCompletion<std::int64_t> completion) {
    device->setDPI(dpi, sensor, std::move(executor), std::move(completion));
}

void LiveHIDPPControl::setReportRate(std::int64_t hertz, HIDPPExecutor executor, HIDPPCompletion<void> completion) {
    std::optional<HIDPPReportRate> rate = HIDPPReportRate::fromHertz(hertz);
    if (!rate) {
        auto error = HIDPPError::invalidArgument(fmt::format("unsupported report rate {} Hz", hertz));
        platform::deliverOn(executor ? executor : device->queue(),
                            [completion = std::move(completion), error = std::move(error)]() mutable {
                                completion(std::unexpected(std::move(error)));
                            });
        return;
    }
    device->setReportRate(*rate, std::move(executor), std::move(completion));
}

void LiveHIDPPControl::setWheelHighResolution(bool on, HIDPPExecutor executor, HIDPPCompletion<bool> completion) {
    device->setWheelHighResolution(
        on, std::move(executor),
        picking<HIDPPWheelMode>(std::move(completion), [](const HIDPPWheelMode& mode) { return mode.highResolution; }));
}

void LiveHIDPPControl::readDPI(HIDPPExecutor executor, HIDPPCompletion<std::int64_t> completion) {
    device->dpi(sensor, std::move(executor),
                picking<HIDPPDPIState>(std::move(completion), [](const HIDPPDPIState& state) { return state.current; }));
}

} // namespace ravolet
