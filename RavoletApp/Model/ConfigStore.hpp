#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "Core/Config.hpp"
#include "Platform/Clock.hpp"
#include "Platform/FileSystem.hpp"
#include "Support/Observable.hpp"

namespace ravolet {

// The one file that holds the user's settings document, and what happens when
// it cannot be used. Loading never fails: a missing file gives the factory
// document; an unreadable, broken or newer file gives it too, together with a
// problem that blocks every save, so the file is never overwritten until the
// user moves it aside (startFresh) or it reads well again. Saves are atomic: a
// crash mid-save leaves the old file whole.
//
// While a problem blocks every save, the settings in force are not lost with
// the program (a crash, a kill): the caller keeps them in a copy beside the
// file (keepInForce), and a later load of a file still unusable runs on that
// copy, as the program did. The copy goes once the file holds the settings
// again; one a run left behind is taken up at the next start (loadAtStart).
//
// Nor is a file changed from outside overwritten (a hand edit, a copy of the
// settings put in place): the store remembers the bytes it last read or
// wrote, and a save that finds others on disk writes nothing and says so, so
// that the caller reads the file again.
//
// Main thread only. Each published value notifies its observers only when it
// changes.
class ConfigStore {
public:
    // Why the file is not being used.
    struct Problem {
        // Read, but not valid JSON or not a document this build recognises.
        struct Corrupt {
            std::string detail;
            friend bool operator==(const Corrupt&, const Corrupt&) = default;
        };
        // Written by a newer build, in a format this one does not know.
        struct NewerSchema {
            std::int64_t found = 0;
            std::int64_t supported = 0;
            friend bool operator==(const NewerSchema&, const NewerSchema&) = default;
        };
        // There, but reading it failed.
        struct Unreadable {
            std::string detail;
            friend bool operator==(const Unreadable&, const Unreadable&) = default;
        };

        std::variant<Corrupt, NewerSchema, Unreadable> value;
        // What Ravolet runs on meanwhile: the factory document when the file
        // could not be used from the start, the last good settings when it
        // was broken after it had been read or saved well (the caller keeps
        // its document then).
        enum class InForce { factoryDefaults, lastGood };
        InForce inForce = InForce::factoryDefaults;

        static Problem corrupt(std::string detail) { return {Corrupt{std::move(detail)}}; }
        static Problem newerSchema(std::int64_t found, std::int64_t supported) { return {NewerSchema{found, supported}}; }
        static Problem unreadable(std::string detail) { return {Unreadable{std::move(detail)}}; }

        // The banner's title and its text, for the user.
        std::string headline() const;
        std::string explanation() const;

        friend bool operator==(const Problem&, const Problem&) = default;
        friend std::ostream& operator<<(std::ostream& os, const Problem& problem);
    };

    static constexpr const char* fileName = "config.json";
    // The copy of the settings in force while the file cannot be used, beside it.
    static constexpr const char* inForceFileName = "config.last-good.json";

    // Touches no file. The clock names archived files, in local time.
    ConfigStore(std::filesystem::path fileURL, std::shared_ptr<platform::FileSystem> files,
                std::shared_ptr<platform::Clock> clock);
    ConfigStore(const ConfigStore&) = delete;
    ConfigStore& operator=(const ConfigStore&) = delete;

    // "config.json" in the settings folder of this machine, with its files and clock.
    static std::shared_ptr<ConfigStore> standard();
    // The folder for the program's files (not created by asking).
    static std::filesystem::path supportDirectory(const platform::FileSystem& files);

    const std::filesystem::path fileURL;

    enum class SaveOutcome {
        saved,
        // Writing failed: see lastSaveError.
        failed,
        // A problem is set; nothing was tried.
        blocked,
        // The file on disk is no longer the one last read or written; it was
        // left alone, to be read again.
        changedOnDisk,
    };

    // The document in the file; the factory document when there is no file
    // (nothing is written) or it cannot be used (a problem is set, the file is
    // left alone; once a document was read or saved well, the problem says
    // that the last good settings stay in force). Sets or clears the problem.
    Config load();
    // The first load of a run: as load(), with a copy of the settings in
    // force that an earlier run left (it ended while the file could not be
    // used) taken up first. With no file, the copy becomes the file (moved,
    // never over one); with a file that reads well now, a copy that holds
    // the same goes, and one that differs is kept as changes not saved
    // (config-<time>.unsaved.json beside the file), which gatherKeptAside()
    // then names.
    Config loadAtStart();
    // Writes the document, unless a problem is set or the file was changed on
    // disk. Creates the folder; a failure goes to lastSaveError, a success
    // clears it.
    SaveOutcome save(const Config& config);
    // Whether a file is there that is not the one last read or written (or
    // one has come where there was none). Never before the first load or
    // save; a file gone since is no change: the next save writes it again.
    bool changedOnDisk() const;
    // Moves the unusable file aside, never over an existing file, and clears
    // the problem; true on success. A failed move sets lastSaveError and
    // changes nothing else. Without a file there is nothing to move.
    bool startFresh();
    // Writes the document beside the file, as "config-" + the local time +
    // ".unsaved.json" (with "-2" and so on after the time when that name is
    // taken), for changes that cannot be saved in the file; never over
    // another file. Where that fails (the disk is full), in the file system's
    // spare folders, in a folder there of this settings folder's own (see
    // keptAsideFolder), in their order. Where it went, or why it could not.
    std::expected<std::filesystem::path, std::string> keepAside(const Config& config);
    // Documents keepAside left for this settings folder in a spare folder,
    // moved beside the file where they can be written there (never over
    // another file), and the copy loadAtStart() kept as changes not saved:
    // where the newest one is now; none when there are none. Another
    // settings folder's (another XDG_CONFIG_HOME's) are left to it.
    std::optional<std::filesystem::path> gatherKeptAside();
    // Where in a spare folder keepAside puts this settings folder's
    // documents: a folder named after the settings folder's own path.
    std::filesystem::path keptAsideFolder(const std::filesystem::path& spareFolder) const;

    // While a problem is set: writes the settings in force to the copy beside
    // the file (atomically, over the last copy), for a later load to run on.
    // Whether they are there now.
    bool keepInForce(const Config& config);
    // What the copy holds, as last read or written; none without a copy.
    const std::optional<Config>& keptInForce() const { return keptInForce_; }
    // Removes the copy: the file holds the settings again. A successful
    // save does so itself.
    void dropInForceCopy();

    // The document the file held when it was last read or written: what
    // load() returned (the factory document while there is no file) or what
    // save() wrote. A file that cannot be used leaves the last good one (the
    // factory document at first). Whatever differs from it is not saved yet.
    const Config& storedDocument() const { return stored_; }

    // While set, nothing is written. Settable from outside: reading the file
    // again on request starts by clearing it.
    const Observable<std::optional<Problem>>& problem() const { return problem_; }
    void setProblem(std::optional<Problem> problem) { problem_.set(std::move(problem)); }
    // Where the last successful startFresh() moved the file.
    const Observable<std::optional<std::filesystem::path>>& archivedFileURL() const { return archivedFileURL_; }
    // Why the last write or move failed; none after a successful save.
    const Observable<std::optional<std::string>>& lastSaveError() const { return lastSaveError_; }

private:
    // "2025-03-01-093000": the current local time, for the archive's name.
    std::string filenameTimestamp() const;

    const std::shared_ptr<platform::FileSystem> files_;
    const std::shared_ptr<platform::Clock> clock_;
    Observable<std::optional<Problem>> problem_;
    Observable<std::optional<std::filesystem::path>> archivedFileURL_;
    Observable<std::optional<std::string>> lastSaveError_;
    // What the file held when it was last read or written; none when there
    // was no file. Unset before the first look, and after a failed read.
    std::optional<std::optional<std::string>> seenOnDisk_;
    Config stored_ = Config::defaultConfig();
    // Whether a document was read from the file or written to it.
    bool hadGoodDocument_ = false;
    std::optional<Config> keptInForce_;
    // The copy loadAtStart() found stale, where it was kept instead.
    std::optional<std::filesystem::path> staleInForceKeptAt_;

    std::filesystem::path inForceFile() const { return fileURL.parent_path() / inForceFileName; }
    // A name for an unsaved document in `folder` that no file has (none
    // where every one is taken), with the time stamp given.
    std::optional<std::filesystem::path> freeUnsavedName(const std::filesystem::path& folder, const std::string& stamp) const;
};

} // namespace ravolet
