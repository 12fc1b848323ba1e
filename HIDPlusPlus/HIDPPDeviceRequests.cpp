// HIDPPDevice: raw requests, ping and protocol version, and the feature table.

#include <algorithm>

#include "HIDPlusPlus/HIDPPDeviceInternal.hpp"
#include "HIDPlusPlus/HIDPPLink.hpp"
#include "HIDPlusPlus/HIDPPWire.hpp"

namespace ravolet {

namespace {
constexpr std::uint8_t pingToken = 0x5A;
} // namespace

void HIDPPDevice::request(std::uint8_t featureIndex, std::uint8_t function, HIDPPBytes parameters, bool isLong,
                          std::optional<double> timeout, Next<HIDPPBytes> next) {
    std::shared_ptr<HIDPPLink> link;
    std::uint8_t index = 0;
    double seconds = 0;
    {
        std::lock_guard lock(mutex_);
        link = link_;
        index = deviceIndex_;
        seconds = timeout.value_or(defaultTimeout_);
    }
    if (!link) return next(std::unexpected(HIDPPError::notConnected()));
    // The link calls the completion exactly once on the HID thread (reply,
    // error, time-out, send failure, close or removal); the result comes
    // back to the device's queue, also when the HID thread drops the request.
    onIOHereIfIdle([link, index, featureIndex, function, parameters = std::move(parameters), isLong, seconds,
          hop = Hop<HIDPPResult<HIDPPBytes>>(queue_, std::move(next), std::unexpected(ioUnavailable()))]() mutable {
        link->submit(index, featureIndex, function, std::move(parameters), isLong, seconds, {},
                     [hop = std::move(hop)](HIDPPResult<HIDPPBytes> result) mutable { hop.deliver(std::move(result)); });
    });
}

void HIDPPDevice::rawRequest(std::uint8_t featureIndex, std::uint8_t function, HIDPPBytes parameters, bool isLong,
                             std::optional<double> timeout, HIDPPExecutor executor,
                             HIDPPCompletion<HIDPPBytes> completion) {
    run<HIDPPBytes>(std::move(executor), std::move(completion),
                    [self = shared_from_this(), featureIndex, function, parameters = std::move(parameters), isLong,
                     timeout](Next<HIDPPBytes> next) mutable {
                        self->request(featureIndex, function, std::move(parameters), isLong, timeout, std::move(next));
                    });
}

// ---- Ping and protocol version ----

void HIDPPDevice::pingStep(Next<HIDPPProtocolVersion> next) {
    request(HIDPPWire::rootFeatureIndex, 1, {0x00, 0x00, pingToken}, false, std::nullopt,
            [self = shared_from_this(), next = std::move(next)](HIDPPResult<HIDPPBytes> reply) mutable {
                if (!reply) return next(std::unexpected(reply.error()));
                const HIDPPBytes& p = *reply;
                if (p.size() < 3) return next(std::unexpected(HIDPPError::malformedResponse("ping reply too short")));
                if (p[2] != pingToken) return next(std::unexpected(HIDPPError::malformedResponse("ping token mismatch")));
                const HIDPPProtocolVersion version{p[0], p[1]};
                {
                    std::lock_guard lock(self->mutex_);
                    self->cachedProtocolVersion_ = version;
                }
                next(version);
            });
}

void HIDPPDevice::ping(HIDPPExecutor executor, HIDPPCompletion<HIDPPProtocolVersion> completion) {
    run<HIDPPProtocolVersion>(std::move(executor), std::move(completion),
                              [self = shared_from_this()](Next<HIDPPProtocolVersion> next) {
                                  self->pingStep(std::move(next));
                              });
}

void HIDPPDevice::protocolVersion(HIDPPExecutor executor, HIDPPCompletion<HIDPPProtocolVersion> completion) {
    run<HIDPPProtocolVersion>(std::move(executor), std::move(completion),
                              [self = shared_from_this()](Next<HIDPPProtocolVersion> next) {
                                  std::optional<HIDPPProtocolVersion> cached;
                                  {
                                      std::lock_guard lock(self->mutex_);
                                      cached = self->cachedProtocolVersion_;
                                  }
                                  if (cached) return next(*cached);
                                  self->pingStep(std::move(next));
                              });
}

// ---- Feature look-up ----

void HIDPPDevice::featureIndexStep(HIDPPFeature feature, Next<std::uint8_t> next) {
    const std::uint16_t id = rawValue(feature);
    std::optional<std::uint8_t> cachedIndex;
    bool knownAbsent = false;
    {
        std::lock_guard lock(mutex_);
        if (auto it = featuresByID_.find(id); it != featuresByID_.end()) {
            cachedIndex = it->second.index;
        } else if (absentFeatureIDs_.contains(id) || fullTableDiscovered_) {
            // Once the whole table is known, anything missing from it is absent.
            absentFeatureIDs_.insert(id);
            knownAbsent = true;
        }
    }
    if (cachedIndex) return next(*cachedIndex);
    if (knownAbsent) return next(std::unexpected(HIDPPError::featureUnsupported(feature)));
    request(HIDPPWire::rootFeatureIndex, 0, {static_cast<std::uint8_t>(id >> 8), static_cast<std::uint8_t>(id & 0xFF), 0x00},
            false, std::nullopt,
            [self = shared_from_this(), feature, id, next = std::move(next)](HIDPPResult<HIDPPBytes> reply) mutable {
                if (!reply) return next(std::unexpected(reply.error()));
                const HIDPPBytes& p = *reply;
                if (p.size() < 3) return next(std::unexpected(HIDPPError::malformedResponse("getFeature reply too short")));
                if (p[0] == 0) {
                    {
                        std::lock_guard lock(self->mutex_);
                        self->absentFeatureIDs_.insert(id);
                    }
                    return next(std::unexpected(HIDPPError::featureUnsupported(feature)));
                }
                {
                    std::lock_guard lock(self->mutex_);
                    self->featuresByID_.insert_or_assign(id, HIDPPFeatureRecord(p[0], id, HIDPPFeatureType(p[1]), p[2]));
                }
                next(p[0]);
            });
}

void HIDPPDevice::featureIndex(HIDPPFeature feature, HIDPPExecutor executor, HIDPPCompletion<std::uint8_t> completion) {
    run<std::uint8_t>(std::move(executor), std::move(completion),
                      [self = shared_from_this(), feature](Next<std::uint8_t> next) {
                          self->featureIndexStep(feature, std::move(next));
                      });
}

void HIDPPDevice::supports(HIDPPFeature feature, HIDPPExecutor executor, std::move_only_function<void(bool)> completion) {
    run<std::uint8_t>(std::move(executor),
                      [completion = std::move(completion)](HIDPPResult<std::uint8_t> index) mutable {
                          completion(index.has_value());
                      },
                      [self = shared_from_this(), feature](Next<std::uint8_t> next) {
                          self->featureIndexStep(feature, std::move(next));
                      });
}

std::vector<HIDPPFeatureRecord> HIDPPDevice::features() const {
    std::vector<HIDPPFeatureRecord> records;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [id, record] : featuresByID_) records.push_back(record);
    }
    std::stable_sort(records.begin(), records.end(), [](const auto& a, const auto& b) { return a.index < b.index; });
    return records;
}

// ---- Discovery ----

void HIDPPDevice::discoverStep(Next<std::vector<HIDPPFeatureRecord>> next) {
    featureIndexStep(HIDPPFeature::featureSet, [self = shared_from_this(), next = std::move(next)](
                                                   HIDPPResult<std::uint8_t> fs) mutable {
        if (!fs) return next(std::unexpected(fs.error()));
        self->request(*fs, 0, {}, false, std::nullopt,
                      [self, fs = *fs, next = std::move(next)](HIDPPResult<HIDPPBytes> reply) mutable {
                          if (!reply) return next(std::unexpected(reply.error()));
                          if (reply->empty())
                              return next(std::unexpected(HIDPPError::malformedResponse("getCount reply empty")));
                          // Indices 0 (the root) to n: up to 256 requests, counted
                          // in an int so that a count of 255 ends.
                          const int last = (*reply)[0];
                          self->readFeatureIDs(fs, 0, last, std::make_shared<std::vector<HIDPPFeatureRecord>>(),
                                               std::move(next));
                      });
    });
}

void HIDPPDevice::readFeatureIDs(std::uint8_t featureSetIndex, int index, int last,
                                 std::shared_ptr<std::vector<HIDPPFeatureRecord>> records,
                                 Next<std::vector<HIDPPFeatureRecord>> next) {
    if (index > last) {
        {
            std::lock_guard lock(mutex_);
            fullTableDiscovered_ = true;
            absentFeatureIDs_.clear();
        }
        std::stable_sort(records->begin(), records->end(), [](const auto& a, const auto& b) { return a.index < b.index; });
        return next(std::move(*records));
    }
    const auto i = static_cast<std::uint8_t>(index);
    request(featureSetIndex, 1, {i, 0x00, 0x00}, false, std::nullopt,
            [self = shared_from_this(), featureSetIndex, index, last, records,
             next = std::move(next)](HIDPPResult<HIDPPBytes> reply) mutable {
                if (!reply) return next(std::unexpected(reply.error()));
                const HIDPPBytes& p = *reply;
                if (p.size() < 4) return next(std::unexpected(HIDPPError::malformedResponse("getFeatureID reply too short")));
                const auto id = static_cast<std::uint16_t>(p[0] << 8 | p[1]);
                HIDPPFeatureRecord record(static_cast<std::uint8_t>(index), id, HIDPPFeatureType(p[2]), p[3]);
                records->push_back(record);
                {
                    // Cached at once, so what was read survives a later failure.
                    std::lock_guard lock(self->mutex_);
                    self->featuresByID_.insert_or_assign(id, record);
                }
                self->readFeatureIDs(featureSetIndex, index + 1, last, std::move(records), std::move(next));
            });
}

void HIDPPDevice::discoverFeatures(HIDPPExecutor executor, HIDPPCompletion<std::vector<HIDPPFeatureRecord>> completion) {
    run<std::vector<HIDPPFeatureRecord>>(std::move(executor), std::move(completion),
                                         [self = shared_from_this()](Next<std::vector<HIDPPFeatureRecord>> next) {
                                             self->discoverStep(std::move(next));
                                         });
}

// ---- Requests by feature ----

void HIDPPDevice::get(HIDPPFeature feature, std::uint8_t function, HIDPPBytes parameters, bool isLong,
                      Next<HIDPPBytes> next) {
    featureIndexStep(feature, [self = shared_from_this(), function, parameters = std::move(parameters), isLong,
                               next = std::move(next)](HIDPPResult<std::uint8_t> index) mutable {
        if (!index) return next(std::unexpected(index.error()));
        self->request(*index, function, std::move(parameters), isLong, std::nullopt, std::move(next));
    });
}

void HIDPPDevice::set(HIDPPFeature feature, std::uint8_t function, HIDPPBytes parameters, Next<void> next) {
    // Every write goes out as a long report; its reply carries nothing we use.
    get(feature, function, std::move(parameters), true, [next = std::move(next)](HIDPPResult<HIDPPBytes> reply) mutable {
        if (!reply) return next(std::unexpected(reply.error()));
        next({});
    });
}

} // namespace ravolet
