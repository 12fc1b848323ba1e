#pragma once

#include <cstdint>
#include <iosfwd>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "RavoletEngine/Coordination/PointerPropertyBackend.hpp"

namespace ravolet {

// Services and their properties in memory, so that pointer tuning runs
// without a device. Writes can be refused per key, by the event system only
// (they then land on the registry entry) or everywhere.
class FakePointerPropertyBackend final : public PointerPropertyBackend {
public:
    struct WriteRecord {
        std::uint64_t registryID = 0;
        std::string key;
        std::int64_t value = 0;
        friend bool operator==(const WriteRecord&, const WriteRecord&) = default;
    };
    using Numbers = std::map<std::string, std::int64_t, std::less<>>;
    using Strings = std::map<std::string, std::string, std::less<>>;

    explicit FakePointerPropertyBackend(std::vector<PointerServiceIdentity> services = {});

    // Adds to the service's values, replacing those of the same key.
    void seed(std::uint64_t registryID, const Numbers& numbers, const Strings& strings = {});
    void setServices(std::vector<PointerServiceIdentity> services);
    void setCanWrite(bool canWrite) { canWrite_ = canWrite; }
    void setKeysRefusedByEventSystem(std::set<std::string, std::less<>> keys) { refusedByEventSystem_ = std::move(keys); }
    void setKeysRefusedEverywhere(std::set<std::string, std::less<>> keys) { refusedEverywhere_ = std::move(keys); }
    // Keys that cannot change, as libinput's counts per inch on Linux: a write
    // of the value they hold succeeds without doing anything, any other is refused.
    void setKeysReadOnly(std::set<std::string, std::less<>> keys) { readOnly_ = std::move(keys); }

    const std::map<std::uint64_t, Numbers>& values() const { return values_; }
    const std::map<std::uint64_t, Strings>& strings() const { return strings_; }
    const std::vector<WriteRecord>& writeLog() const { return writeLog_; }

    bool canWrite() const override { return canWrite_; }
    std::vector<PointerServiceIdentity> services() override { return identities_; }
    std::optional<std::int64_t> readNumber(std::string_view key, std::uint64_t registryID) override;
    std::optional<std::string> readString(std::string_view key, std::uint64_t registryID) override;
    PointerPropertyWrite writeNumber(std::string_view key, std::int64_t value, std::uint64_t registryID) override;
    // Listed among the services.
    bool serviceExists(std::uint64_t registryID) override;

private:
    std::vector<PointerServiceIdentity> identities_;
    std::map<std::uint64_t, Numbers> values_;
    std::map<std::uint64_t, Strings> strings_;
    std::vector<WriteRecord> writeLog_;
    std::set<std::string, std::less<>> refusedByEventSystem_;
    std::set<std::string, std::less<>> refusedEverywhere_;
    std::set<std::string, std::less<>> readOnly_;
    bool canWrite_ = true;
};

std::ostream& operator<<(std::ostream& os, const FakePointerPropertyBackend::WriteRecord& record);

} // namespace ravolet
