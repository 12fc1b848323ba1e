#include "RavoletApp/Model/ConfigStore.hpp"

#include <chrono>
#include <expected>
#include <functional>
#include <ostream>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "Platform/Linux/LinuxFileSystem.hpp"
#include "Platform/Linux/SystemClock.hpp"
#include "Support/ValueSupport.hpp"

namespace ravolet {

namespace {

constexpr const char* runningOnDefaults = "Ravolet is running on its factory defaults for now and will not save over the file. ";
constexpr std::string_view unsavedPrefix = "config-";
constexpr std::string_view unsavedSuffix = ".unsaved.json";
constexpr const char* runningOnLastGood = "Ravolet keeps running on your last good settings and will not save over the file. ";

// A parser's or the system's message as a sentence of the explanation: it
// comes without a full stop, and the banner goes on after it.
std::string asSentence(std::string detail) {
    if (!detail.empty() && std::string_view(".!?").find(detail.back()) == std::string_view::npos) detail += '.';
    return detail;
}

ConfigStore::Problem problemFor(const ConfigLoadError& error) {
    using Problem = ConfigStore::Problem;
    if (const auto* json = std::get_if<JsonError>(&error))
        return Problem::corrupt("The file is not valid JSON (" + json->description() + ").");
    return std::visit(Overloaded{
                          [](const ConfigError::UnsupportedSchemaVersion& newer) {
                              return Problem::newerSchema(newer.found, newer.supported);
                          },
                          [](const ConfigError::Malformed& malformed) {
                              return Problem::corrupt("The file is not in a shape Ravolet recognises (" + malformed.reason + ").");
                          },
                      },
                      std::get<ConfigError>(error).value);
}

// Writes the document in its folder while `unchanged` holds up to the moment
// it replaces the file: the bytes written (none when it no longer held), or
// why it failed.
std::expected<std::optional<std::string>, std::string> write(platform::FileSystem& files, const std::filesystem::path& file,
                                                             const Config& config, const std::function<bool()>& unchanged) {
    if (const auto folder = files.createDirectories(file.parent_path()); !folder)
        return std::unexpected(folder.error().description());
    auto bytes = config.encoded();
    if (!bytes) return std::unexpected(bytes.error().description());
    const auto written = files.writeFileAtomicallyIf(file, *bytes, unchanged);
    if (!written) return std::unexpected(written.error().description());
    if (!*written) return std::optional<std::string>();
    return std::optional(std::move(*bytes));
}

// The document in a file of Ravolet's own, where it reads as one.
std::optional<Config> documentIn(const platform::FileSystem& files, const std::filesystem::path& file) {
    const auto bytes = files.readFile(file);
    if (!bytes) return std::nullopt;
    auto config = Config::decoded(*bytes);
    if (!config) return std::nullopt;
    return std::move(*config);
}

} // namespace

std::string ConfigStore::Problem::headline() const {
    return std::visit(Overloaded{
                          [](const Corrupt&) -> std::string { return "Your Ravolet settings file could not be read"; },
                          [](const NewerSchema& newer) {
                              return fmt::format("Your settings were written by a newer version of Ravolet (format {}; "
                                                 "this build understands {})",
                                                 newer.found, newer.supported);
                          },
                          [](const Unreadable&) -> std::string { return "Your Ravolet settings file could not be opened"; },
                      },
                      value);
}

std::string ConfigStore::Problem::explanation() const {
    const bool lastGood = inForce == InForce::lastGood;
    const std::string running = lastGood ? runningOnLastGood : runningOnDefaults;
    return std::visit(Overloaded{
                          [&](const Corrupt& corrupt) { return running + asSentence(corrupt.detail); },
                          [&](const NewerSchema&) -> std::string {
                              return std::string(lastGood ? "Ravolet keeps running on your last good settings"
                                                          : "Ravolet is running on its factory defaults") +
                                     " and will not save over the file, because writing this build's format would "
                                     "throw away the settings the newer version added. Install the newer version "
                                     "again, or " +
                                     (lastGood ? "move the file aside." : "start fresh.");
                          },
                          [&](const Unreadable& unreadable) { return running + asSentence(unreadable.detail); },
                      },
                      value);
}

std::ostream& operator<<(std::ostream& os, const ConfigStore::Problem& problem) {
    return os << problem.headline() << ": " << problem.explanation();
}

ConfigStore::ConfigStore(std::filesystem::path fileURL, std::shared_ptr<platform::FileSystem> files,
                         std::shared_ptr<platform::Clock> clock)
    : fileURL(std::move(fileURL)), files_(std::move(files)), clock_(std::move(clock)) {}

std::shared_ptr<ConfigStore> ConfigStore::standard() {
    auto files = platform::LinuxFileSystem::shared();
    auto file = supportDirectory(*files) / fileName;
    return std::make_shared<ConfigStore>(std::move(file), std::move(files), platform::SystemClock::shared());
}

std::filesystem::path ConfigStore::supportDirectory(const platform::FileSystem& files) { return files.settingsFolder(); }

Config ConfigStore::load() {
    if (!files_->exists(fileURL)) {
        seenOnDisk_.emplace(std::nullopt);
        setProblem(std::nullopt);
        stored_ = Config::defaultConfig();
        return stored_;
    }
    // A file that cannot be used leaves stored_ at the last good document:
    // what differs from that was never saved in it. The settings in force,
    // kept beside it by a run that found it so too (this one, or one that
    // ended meanwhile), are what runs on.
    const auto blocked = [this](Problem problem) {
        if (auto kept = documentIn(*files_, inForceFile())) {
            keptInForce_ = std::move(*kept);
            hadGoodDocument_ = true;
        }
        problem.inForce = hadGoodDocument_ ? Problem::InForce::lastGood : Problem::InForce::factoryDefaults;
        setProblem(std::move(problem));
        return keptInForce_.value_or(Config::defaultConfig());
    };
    auto bytes = files_->readFile(fileURL);
    if (!bytes) {
        seenOnDisk_.reset();
        return blocked(Problem::unreadable(bytes.error().description()));
    }
    auto config = Config::decoded(*bytes);
    seenOnDisk_.emplace(std::move(*bytes));
    if (!config) return blocked(problemFor(config.error()));
    setProblem(std::nullopt);
    stored_ = std::move(*config);
    hadGoodDocument_ = true;
    return stored_;
}

Config ConfigStore::loadAtStart() {
    const auto copy = inForceFile();
    if (!files_->exists(copy)) return load();
    // The broken file went while Ravolet was not running: the settings that
    // were in force take its place, as they do when it goes while it runs.
    if (!files_->exists(fileURL)) (void)files_->moveWithoutReplacing(copy, fileURL);
    Config config = load();
    if (problem_.value() || !files_->exists(copy)) return config;
    // The file was mended meanwhile, and is what runs: settings of the copy's
    // that it lacks were never saved, and are kept as such.
    if (documentIn(*files_, copy) == config) {
        (void)files_->removeFile(copy);
        return config;
    }
    const auto aside = freeUnsavedName(fileURL.parent_path(), filenameTimestamp());
    if (aside && files_->moveWithoutReplacing(copy, *aside)) staleInForceKeptAt_ = *aside;
    return config;
}

bool ConfigStore::keepInForce(const Config& config) {
    if (!problem_.value()) return false;
    if (keptInForce_ == config) return true;
    const auto bytes = config.encoded();
    if (!bytes || !files_->createDirectories(fileURL.parent_path()) || !files_->writeFileAtomically(inForceFile(), *bytes))
        return false;
    keptInForce_ = config;
    return true;
}

void ConfigStore::dropInForceCopy() {
    if (!keptInForce_) return;
    keptInForce_.reset();
    (void)files_->removeFile(inForceFile());
}

ConfigStore::SaveOutcome ConfigStore::save(const Config& config) {
    if (problem_.value()) return SaveOutcome::blocked;
    if (changedOnDisk()) return SaveOutcome::changedOnDisk;
    // Asked again once the bytes are on disk: an edit from outside that lands
    // while they are flushed is not written over either.
    auto written = write(*files_, fileURL, config, [this] { return !changedOnDisk(); });
    if (!written) {
        lastSaveError_.set(std::move(written.error()));
        return SaveOutcome::failed;
    }
    if (!*written) return SaveOutcome::changedOnDisk;
    seenOnDisk_.emplace(std::move(**written));
    stored_ = config;
    hadGoodDocument_ = true;
    lastSaveError_.set(std::nullopt);
    // The file holds the settings again.
    dropInForceCopy();
    return SaveOutcome::saved;
}

bool ConfigStore::changedOnDisk() const {
    if (!seenOnDisk_ || !files_->exists(fileURL)) return false;
    const auto bytes = files_->readFile(fileURL);
    // One that cannot be read now is no file of ours to replace either.
    return !bytes || *bytes != *seenOnDisk_;
}

bool ConfigStore::startFresh() {
    // A file kept through a link is moved aside where it lives, and the link
    // stays, for the next save to write through.
    const auto actual = files_->followLinks(fileURL);
    const auto archive = actual.parent_path() / ("config-" + filenameTimestamp() + ".unreadable.json");
    if (files_->exists(fileURL)) {
        const auto moved = files_->moveWithoutReplacing(actual, archive);
        if (!moved) {
            lastSaveError_.set(moved.error().description());
            return false;
        }
        archivedFileURL_.set(archive);
    }
    seenOnDisk_.emplace(std::nullopt);
    stored_ = Config::defaultConfig();
    setProblem(std::nullopt);
    return true;
}

std::optional<std::filesystem::path> ConfigStore::freeUnsavedName(const std::filesystem::path& folder,
                                                                  const std::string& stamp) const {
    for (int attempt = 1; attempt <= 100; ++attempt) {
        const std::string suffix = attempt == 1 ? "" : fmt::format("-{}", attempt);
        auto aside = folder / (std::string(unsavedPrefix) + stamp + suffix + std::string(unsavedSuffix));
        if (!files_->exists(aside)) return aside;
    }
    return std::nullopt;
}

std::filesystem::path ConfigStore::keptAsideFolder(const std::filesystem::path& spareFolder) const {
    // Every settings folder (every XDG_CONFIG_HOME) shares the spare folders:
    // each keeps its own in a folder named after where it is, so that none
    // takes another's. The path as the file system resolves it, so that two
    // spellings of one folder are one.
    const std::string settings = files_->followLinks(fileURL.parent_path()).lexically_normal().string();
    std::uint64_t hash = 14695981039346656037ull; // FNV-1a
    for (const unsigned char c : settings) hash = (hash ^ c) * 1099511628211ull;
    return spareFolder / fmt::format("settings-{:016x}", hash);
}

std::expected<std::filesystem::path, std::string> ConfigStore::keepAside(const Config& config) {
    const auto bytes = config.encoded();
    if (!bytes) return std::unexpected(bytes.error().description());
    const std::string stamp = filenameTimestamp();
    // Beside the settings first; where that disk is full (or read-only), on another.
    std::vector<std::filesystem::path> folders{fileURL.parent_path()};
    for (const std::filesystem::path& folder : files_->spareFolders()) folders.push_back(keptAsideFolder(folder));
    std::string why;
    for (const auto& folder : folders) {
        const auto failed = [&why](const std::string& reason) { why += (why.empty() ? "" : "; ") + reason; };
        const auto aside = freeUnsavedName(folder, stamp);
        if (!aside) {
            failed("every name for it is taken in " + folder.string());
            continue;
        }
        auto written = files_->createDirectories(folder);
        if (written) written = files_->writeFileAtomically(*aside, *bytes);
        if (written) return *aside;
        failed(written.error().description());
    }
    return std::unexpected(why);
}

std::optional<std::filesystem::path> ConfigStore::gatherKeptAside() {
    std::optional<std::filesystem::path> newest = staleInForceKeptAt_;
    for (const auto& spare : files_->spareFolders()) {
        const auto folder = keptAsideFolder(spare);
        const auto names = files_->listDirectory(folder);
        if (!names) continue;
        for (const std::string& name : *names) {
            if (!name.starts_with(unsavedPrefix) || !name.ends_with(unsavedSuffix)) continue;
            std::filesystem::path at = folder / name;
            // Moved only once it is whole beside the settings, and never over another file.
            const std::filesystem::path beside = fileURL.parent_path() / name;
            if (!files_->exists(beside)) {
                const auto bytes = files_->readFile(at);
                if (bytes && files_->createDirectories(beside.parent_path()) && files_->writeFileAtomically(beside, *bytes)) {
                    (void)files_->removeFile(at);
                    at = beside;
                }
            }
            // The time in the name orders them.
            if (!newest || newest->filename() < at.filename()) newest = std::move(at);
        }
    }
    return newest;
}

std::string ConfigStore::filenameTimestamp() const {
    const auto now = clock_->now();
    const auto local = std::chrono::floor<std::chrono::seconds>(now) + clock_->localTimeOffset(now);
    const auto day = std::chrono::floor<std::chrono::days>(local);
    const std::chrono::year_month_day date(day);
    const std::chrono::hh_mm_ss time(local - day);
    return fmt::format("{:04}-{:02}-{:02}-{:02}{:02}{:02}", static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                       static_cast<unsigned>(date.day()), time.hours().count(), time.minutes().count(),
                       time.seconds().count());
}

} // namespace ravolet
