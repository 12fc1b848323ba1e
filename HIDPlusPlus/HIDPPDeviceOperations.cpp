// HIDPPDevice: typed operations on the device's named features.

#include <algorithm>
#include <fmt/format.h>

#include "HIDPlusPlus/HIDPPDeviceInternal.hpp"
#include "HIDPlusPlus/HIDPPDeviceDecoding.hpp"

namespace ravolet {

namespace {

HIDPPError malformed(const char* text) { return HIDPPError::malformedResponse(text); }

std::uint8_t hiByte(std::uint16_t v) { return static_cast<std::uint8_t>(v >> 8); }
std::uint8_t loByte(std::uint16_t v) { return static_cast<std::uint8_t>(v & 0xFF); }
std::int64_t word(const HIDPPBytes& p, std::size_t at) { return static_cast<std::int64_t>(p[at] << 8 | p[at + 1]); }

// Maps a successful reply through `decode`, or passes the failure on.
template <class T, class Decode>
auto decoded(std::move_only_function<void(HIDPPResult<T>)> next, Decode decode) {
    return [next = std::move(next), decode = std::move(decode)](HIDPPResult<HIDPPBytes> reply) mutable {
        if (!reply) return next(std::unexpected(reply.error()));
        next(decode(*reply));
    };
}

} // namespace

// ---- Device information and name ----

void HIDPPDevice::deviceInformation(HIDPPExecutor executor, HIDPPCompletion<HIDPPDeviceInformation> completion) {
    run<HIDPPDeviceInformation>(std::move(executor), std::move(completion), [self = shared_from_this()](auto next) {
        self->get(HIDPPFeature::deviceInformation, 0, {}, true,
                  decoded<HIDPPDeviceInformation>(std::move(next), [](const HIDPPBytes& p) -> HIDPPResult<HIDPPDeviceInformation> {
                      if (p.size() < 13) return std::unexpected(malformed("getDeviceInfo reply too short"));
                      HIDPPDeviceInformation info;
                      info.entityCount = p[0];
                      info.unitID.assign(p.begin() + 1, p.begin() + 5);
                      info.transports = HIDPPTransports(static_cast<std::uint16_t>(p[5] << 8 | p[6]));
                      info.modelIDs.assign(p.begin() + 7, p.begin() + 13);
                      return info;
                  }));
    });
}

void HIDPPDevice::deviceName(HIDPPExecutor executor, HIDPPCompletion<std::string> completion) {
    run<std::string>(std::move(executor), std::move(completion), [self = shared_from_this()](Next<std::string> next) {
        self->get(HIDPPFeature::deviceNameType, 0, {}, false,
                  [self, next = std::move(next)](HIDPPResult<HIDPPBytes> reply) mutable {
                      if (!reply) return next(std::unexpected(reply.error()));
                      if (reply->empty() || (*reply)[0] == 0)
                          return next(std::unexpected(malformed("getDeviceNameCount reply empty")));
                      self->deviceNameChunks((*reply)[0], std::make_shared<HIDPPBytes>(), std::move(next));
                  });
    });
}

void HIDPPDevice::deviceNameChunks(int length, std::shared_ptr<HIDPPBytes> bytes, Next<std::string> next) {
    const auto finish = [length](const HIDPPBytes& all) {
        auto end = all.begin() + std::min<std::ptrdiff_t>(static_cast<std::ptrdiff_t>(all.size()), length);
        end = std::find(all.begin(), end, std::uint8_t{0});
        return decodeUTF8Lossy(std::span(all.begin(), end));
    };
    const auto offset = static_cast<int>(bytes->size());
    if (offset >= length) return next(finish(*bytes));
    get(HIDPPFeature::deviceNameType, 1, {static_cast<std::uint8_t>(offset)}, true,
        [self = shared_from_this(), length, bytes, finish, next = std::move(next)](HIDPPResult<HIDPPBytes> reply) mutable {
            if (!reply) return next(std::unexpected(reply.error()));
            // An empty chunk ends the name early.
            if (reply->empty()) return next(finish(*bytes));
            bytes->insert(bytes->end(), reply->begin(), reply->end());
            self->deviceNameChunks(length, std::move(bytes), std::move(next));
        });
}

// ---- Sensors and DPI ----

void HIDPPDevice::sensorCount(HIDPPExecutor executor, HIDPPCompletion<std::int64_t> completion) {
    run<std::int64_t>(std::move(executor), std::move(completion), [self = shared_from_this()](auto next) {
        self->get(HIDPPFeature::adjustableDPI, 0, {}, false,
                  decoded<std::int64_t>(std::move(next), [](const HIDPPBytes& p) -> HIDPPResult<std::int64_t> {
                      if (p.empty()) return std::unexpected(malformed("getSensorCount reply empty"));
                      return std::int64_t{p[0]};
                  }));
    });
}

void HIDPPDevice::dpiRangeStep(std::uint8_t sensor, Next<HIDPPDPIRange> next) {
    get(HIDPPFeature::adjustableDPI, 1, {sensor, 0x00, 0x00}, true, decoded<HIDPPDPIRange>(std::move(next), decodeDPIList));
}

void HIDPPDevice::dpiRange(std::uint8_t sensor, HIDPPExecutor executor, HIDPPCompletion<HIDPPDPIRange> completion) {
    run<HIDPPDPIRange>(std::move(executor), std::move(completion),
                       [self = shared_from_this(), sensor](auto next) { self->dpiRangeStep(sensor, std::move(next)); });
}

void HIDPPDevice::dpiStep(std::uint8_t sensor, Next<HIDPPDPIState> next) {
    get(HIDPPFeature::adjustableDPI, 2, {sensor, 0x00, 0x00}, false,
        decoded<HIDPPDPIState>(std::move(next), [](const HIDPPBytes& p) -> HIDPPResult<HIDPPDPIState> {
            if (p.size() < 5) return std::unexpected(malformed("getSensorDpi reply too short"));
            return HIDPPDPIState{.sensorIndex = p[0], .current = word(p, 1), .defaultDPI = word(p, 3)};
        }));
}

void HIDPPDevice::dpi(std::uint8_t sensor, HIDPPExecutor executor, HIDPPCompletion<HIDPPDPIState> completion) {
    run<HIDPPDPIState>(std::move(executor), std::move(completion),
                       [self = shared_from_this(), sensor](auto next) { self->dpiStep(sensor, std::move(next)); });
}

void HIDPPDevice::setDPI(std::int64_t requested, std::uint8_t sensor, HIDPPExecutor executor,
                         HIDPPCompletion<std::int64_t> completion) {
    run<std::int64_t>(std::move(executor), std::move(completion), [self = shared_from_this(), requested,
                                                                   sensor](Next<std::int64_t> next) {
        self->dpiRangeStep(sensor, [self, requested, sensor, next = std::move(next)](HIDPPResult<HIDPPDPIRange> range) mutable {
            if (!range) return next(std::unexpected(range.error()));
            const std::int64_t value = range->normalize(requested);
            if (value < 1 || value > 65535)
                return next(std::unexpected(HIDPPError::invalidArgument(fmt::format("DPI {} cannot be encoded", requested))));
            const auto v = static_cast<std::uint16_t>(value);
            self->set(HIDPPFeature::adjustableDPI, 3, {sensor, hiByte(v), loByte(v)},
                      [self, sensor, next = std::move(next)](HIDPPResult<void> written) mutable {
                          if (!written) return next(std::unexpected(written.error()));
                          // The device may not take exactly what was asked: report what it runs at.
                          self->dpiStep(sensor, [next = std::move(next)](HIDPPResult<HIDPPDPIState> state) mutable {
                              if (!state) return next(std::unexpected(state.error()));
                              next(state->current);
                          });
                      });
        });
    });
}

// ---- Report rate ----

void HIDPPDevice::reportRateStep(Next<HIDPPReportRateInfo> next) {
    get(HIDPPFeature::reportRate, 0, {}, false, [self = shared_from_this(), next = std::move(next)](HIDPPResult<HIDPPBytes> list) mutable {
        if (!list) return next(std::unexpected(list.error()));
        if (list->empty()) return next(std::unexpected(malformed("getReportRateList reply empty")));
        const std::uint8_t bitmap = (*list)[0];
        self->get(HIDPPFeature::reportRate, 1, {}, false,
                  decoded<HIDPPReportRateInfo>(std::move(next), [bitmap](const HIDPPBytes& p) -> HIDPPResult<HIDPPReportRateInfo> {
                      if (p.empty()) return std::unexpected(malformed("getReportRate reply empty"));
                      return HIDPPReportRateInfo{.bitmap = bitmap, .current = HIDPPReportRate(p[0])};
                  }));
    });
}

void HIDPPDevice::reportRate(HIDPPExecutor executor, HIDPPCompletion<HIDPPReportRateInfo> completion) {
    run<HIDPPReportRateInfo>(std::move(executor), std::move(completion),
                             [self = shared_from_this()](auto next) { self->reportRateStep(std::move(next)); });
}

void HIDPPDevice::setReportRate(HIDPPReportRate rate, HIDPPExecutor executor, HIDPPCompletion<void> completion) {
    run<void>(std::move(executor), std::move(completion), [self = shared_from_this(), rate](Next<void> next) {
        self->reportRateStep([self, rate, next = std::move(next)](HIDPPResult<HIDPPReportRateInfo> info) mutable {
            if (!info) return next(std::unexpected(info.error()));
            const auto supported = info->supported();
            if (std::none_of(supported.begin(), supported.end(),
                             [&](const HIDPPReportRate& r) { return r.milliseconds == rate.milliseconds; })) {
                return next(std::unexpected(HIDPPError::invalidArgument(fmt::format(
                    "report rate {} is not supported (bitmap 0x{:02X})", rate.description(), info->bitmap))));
            }
            if (rate.milliseconds < 1 || rate.milliseconds > 255) {
                return next(std::unexpected(HIDPPError::invalidArgument(
                    fmt::format("report interval {} ms cannot be encoded", rate.milliseconds))));
            }
            self->set(HIDPPFeature::reportRate, 2, {static_cast<std::uint8_t>(rate.milliseconds)}, std::move(next));
        });
    });
}

// ---- Wheel ----

void HIDPPDevice::wheelCapability(HIDPPExecutor executor, HIDPPCompletion<HIDPPWheelCapability> completion) {
    run<HIDPPWheelCapability>(std::move(executor), std::move(completion), [self = shared_from_this()](auto next) {
        self->get(HIDPPFeature::hiResWheel, 0, {}, false,
                  decoded<HIDPPWheelCapability>(std::move(next), [](const HIDPPBytes& p) -> HIDPPResult<HIDPPWheelCapability> {
                      if (p.size() < 2) return std::unexpected(malformed("getWheelCapability reply too short"));
                      return HIDPPWheelCapability(p[0], p[1]);
                  }));
    });
}

void HIDPPDevice::wheelModeStep(Next<HIDPPWheelMode> next) {
    get(HIDPPFeature::hiResWheel, 1, {}, false,
        decoded<HIDPPWheelMode>(std::move(next), [](const HIDPPBytes& p) -> HIDPPResult<HIDPPWheelMode> {
            if (p.empty()) return std::unexpected(malformed("getWheelMode reply empty"));
            return HIDPPWheelMode::fromRawValue(p[0]);
        }));
}

void HIDPPDevice::wheelMode(HIDPPExecutor executor, HIDPPCompletion<HIDPPWheelMode> completion) {
    run<HIDPPWheelMode>(std::move(executor), std::move(completion),
                        [self = shared_from_this()](auto next) { self->wheelModeStep(std::move(next)); });
}

void HIDPPDevice::setWheelModeStep(HIDPPWheelMode mode, Next<void> next) {
    set(HIDPPFeature::hiResWheel, 2, {mode.rawValue()}, std::move(next));
}

void HIDPPDevice::setWheelMode(HIDPPWheelMode mode, HIDPPExecutor executor, HIDPPCompletion<void> completion) {
    run<void>(std::move(executor), std::move(completion),
              [self = shared_from_this(), mode](Next<void> next) { self->setWheelModeStep(mode, std::move(next)); });
}

void HIDPPDevice::setWheelHighResolution(bool on, HIDPPExecutor executor, HIDPPCompletion<HIDPPWheelMode> completion) {
    run<HIDPPWheelMode>(std::move(executor), std::move(completion), [self = shared_from_this(), on](Next<HIDPPWheelMode> next) {
        self->wheelModeStep([self, on, next = std::move(next)](HIDPPResult<HIDPPWheelMode> current) mutable {
            if (!current) return next(std::unexpected(current.error()));
            if (current->highResolution == on) return next(*current);
            const HIDPPWheelMode wanted(current->target, on, current->inverted);
            self->setWheelModeStep(wanted, [self, next = std::move(next)](HIDPPResult<void> written) mutable {
                if (!written) return next(std::unexpected(written.error()));
                self->wheelModeStep(std::move(next));
            });
        });
    });
}

void HIDPPDevice::ratchetState(HIDPPExecutor executor, HIDPPCompletion<HIDPPRatchetState> completion) {
    run<HIDPPRatchetState>(std::move(executor), std::move(completion), [self = shared_from_this()](auto next) {
        self->get(HIDPPFeature::hiResWheel, 3, {}, false,
                  decoded<HIDPPRatchetState>(std::move(next), [](const HIDPPBytes& p) -> HIDPPResult<HIDPPRatchetState> {
                      if (p.empty()) return std::unexpected(malformed("getRatchetSwitchState reply empty"));
                      return p[0] == 1 ? HIDPPRatchetState::ratchet : HIDPPRatchetState::freeSpin;
                  }));
    });
}

// ---- Onboard profiles ----

void HIDPPDevice::onboardProfilesDescriptor(HIDPPExecutor executor,
                                            HIDPPCompletion<HIDPPOnboardProfilesDescriptor> completion) {
    run<HIDPPOnboardProfilesDescriptor>(std::move(executor), std::move(completion), [self = shared_from_this()](auto next) {
        self->get(HIDPPFeature::onboardProfiles, 0, {}, true,
                  decoded<HIDPPOnboardProfilesDescriptor>(
                      std::move(next), [](const HIDPPBytes& p) -> HIDPPResult<HIDPPOnboardProfilesDescriptor> {
                          if (p.size() < 11) return std::unexpected(malformed("getOnboardProfilesDesc reply too short"));
                          HIDPPOnboardProfilesDescriptor d;
                          d.memoryModel = p[0];
                          d.profileFormat = p[1];
                          d.macroFormat = p[2];
                          d.profileCount = p[3];
                          d.profileCountOOB = p[4];
                          d.buttonCount = p[5];
                          d.sectorCount = p[6];
                          d.sectorSize = word(p, 7);
                          d.mechanicalLayout = p[9];
                          d.variousInfo = p[10];
                          return d;
                      }));
    });
}

void HIDPPDevice::onboardMode(HIDPPExecutor executor, HIDPPCompletion<HIDPPOnboardMode> completion) {
    run<HIDPPOnboardMode>(std::move(executor), std::move(completion), [self = shared_from_this()](auto next) {
        self->get(HIDPPFeature::onboardProfiles, 2, {}, false,
                  decoded<HIDPPOnboardMode>(std::move(next), [](const HIDPPBytes& p) -> HIDPPResult<HIDPPOnboardMode> {
                      const auto mode = p.empty() ? std::nullopt : hidppOnboardMode(p[0]);
                      if (!mode) return std::unexpected(malformed("getOnboardMode returned an unknown mode"));
                      return *mode;
                  }));
    });
}

void HIDPPDevice::setOnboardMode(HIDPPOnboardMode mode, HIDPPExecutor executor, HIDPPCompletion<void> completion) {
    run<void>(std::move(executor), std::move(completion), [self = shared_from_this(), mode](Next<void> next) {
        const std::uint8_t raw = mode == HIDPPOnboardMode::onboard ? 1 : 2;
        self->set(HIDPPFeature::onboardProfiles, 1, {raw}, std::move(next));
    });
}

void HIDPPDevice::currentProfile(HIDPPExecutor executor, HIDPPCompletion<HIDPPCurrentProfile> completion) {
    run<HIDPPCurrentProfile>(std::move(executor), std::move(completion), [self = shared_from_this()](auto next) {
        self->get(HIDPPFeature::onboardProfiles, 4, {}, false,
                  decoded<HIDPPCurrentProfile>(std::move(next), [](const HIDPPBytes& p) -> HIDPPResult<HIDPPCurrentProfile> {
                      if (p.size() < 2) return std::unexpected(malformed("getCurrentProfile reply too short"));
                      return HIDPPCurrentProfile{.page = p[0], .index = p[1]};
                  }));
    });
}

void HIDPPDevice::readOnboardMemory(std::uint16_t sector, std::uint16_t offset, HIDPPExecutor executor,
                                    HIDPPCompletion<HIDPPBytes> completion) {
    run<HIDPPBytes>(std::move(executor), std::move(completion), [self = shared_from_this(), sector, offset](auto next) {
        self->get(HIDPPFeature::onboardProfiles, 5, {hiByte(sector), loByte(sector), hiByte(offset), loByte(offset)}, true,
                  decoded<HIDPPBytes>(std::move(next), [](const HIDPPBytes& p) -> HIDPPResult<HIDPPBytes> {
                      if (p.size() < 16) return std::unexpected(malformed("memoryRead reply too short"));
                      return HIDPPBytes(p.begin(), p.begin() + 16);
                  }));
    });
}

} // namespace ravolet
