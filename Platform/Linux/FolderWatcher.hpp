#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "Platform/Executor.hpp"
#include "Platform/Subscription.hpp"

namespace ravolet::platform {

// Changes in folders as the kernel tells of them (inotify), so that nothing
// has to look again and again: one descriptor and one thread for the process,
// shared by every watch, asleep while nothing changes.
//
// A folder that does not exist yet (the autostart folder before anything was
// ever started at login) is waited for: its nearest existing parent is
// watched until the folder comes, and the watch then moves onto it. A folder
// that goes away is waited for again in the same way.
class FolderWatcher {
public:
    // What to hear of, for the entries of a watched folder.
    enum class Changes {
        // A file written and closed, created, moved in or out, or removed.
        contents,
        // Permissions, owner or access lists changed (or an entry created).
        attributes,
    };
    // The name of the entry that changed; empty when anything in the folder
    // may have (the folder itself came or went, or changes were lost).
    using Handler = std::function<void(const std::string& name)>;

    // The process's watcher, made on first use and kept while anyone holds it
    // or a watch of it; null when the kernel gives no inotify descriptor (or
    // no thread), and then nothing is heard.
    static std::shared_ptr<FolderWatcher> shared();

    virtual ~FolderWatcher() = default;

    // Calls `handler` on `executor` for every later change of `folder`'s
    // entries of that kind, in the order the kernel told of them, until the
    // subscription is dropped.
    virtual Subscription watch(std::filesystem::path folder, Changes changes, std::shared_ptr<Executor> executor,
                               Handler handler) = 0;
};

} // namespace ravolet::platform
