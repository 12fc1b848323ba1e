#include "Platform/Linux/FolderWatcher.hpp"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "Platform/Linux/Kernel/DescriptorWatcher.hpp"

namespace ravolet::platform {

namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t contentChanges = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE | IN_DELETE;
constexpr std::uint32_t attributeChanges = IN_ATTRIB | IN_CREATE;
// A folder's own end, on every watch: it was removed or moved away.
constexpr std::uint32_t selfChanges = IN_DELETE_SELF | IN_MOVE_SELF;
// What a watch on a parent waits for: the next folder on the way coming.
constexpr std::uint32_t arrivals = IN_CREATE | IN_MOVED_TO;

std::uint32_t wanted(FolderWatcher::Changes changes) {
    return changes == FolderWatcher::Changes::contents ? contentChanges : attributeChanges;
}

class InotifyFolderWatcher final : public FolderWatcher, public std::enable_shared_from_this<InotifyFolderWatcher> {
public:
    static std::shared_ptr<InotifyFolderWatcher> make() {
        const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd < 0) return nullptr;
        auto watcher = std::make_shared<InotifyFolderWatcher>(fd);
        watcher->thread_ = DescriptorWatcher::make({"ai.ravolet.folders", ThreadPriority::utility, 0});
        if (!watcher->thread_) return nullptr;
        watcher->watch_ = watcher->thread_->watch(fd, [raw = watcher.get()](short) { raw->receive(); });
        return watcher;
    }

    explicit InotifyFolderWatcher(int fd) : fd_(fd) {}
    ~InotifyFolderWatcher() override {
        watch_.cancel();
        thread_.reset();
        ::close(fd_);
    }

    Subscription watch(fs::path folder, Changes changes, std::shared_ptr<Executor> executor, Handler handler) override {
        std::lock_guard lock(mutex_);
        const std::uint64_t id = nextID_++;
        Watch& watch = watches_[id];
        watch.folder = folder.lexically_normal();
        watch.mask = wanted(changes);
        watch.executor = std::move(executor);
        watch.handler = std::make_shared<Handler>(std::move(handler));
        arm(watch);
        // The subscription holds the watcher, so a caller that keeps only it
        // goes on hearing.
        return Subscription([self = shared_from_this(), id] {
            std::lock_guard lock(self->mutex_);
            if (const auto found = self->watches_.find(id); found != self->watches_.end()) {
                self->disarm(found->second);
                self->watches_.erase(found);
            }
        });
    }

private:
    struct Watch {
        fs::path folder;
        std::uint32_t mask = 0;
        std::shared_ptr<Executor> executor;
        // Shared with the calls in flight, which check that the watch still stands.
        std::shared_ptr<Handler> handler;
        // The kernel's watch, on the folder or on the nearest parent there is
        // while it does not exist; -1 where nothing can be watched.
        int descriptor = -1;
        fs::path armedAt;
    };

    // With the lock held: a kernel watch on the folder, else on its nearest
    // existing parent, to wait there for the next folder on the way.
    void arm(Watch& watch) {
        disarm(watch);
        fs::path at = watch.folder;
        // Bounded, for folders that come and go while this looks.
        for (int look = 0; look < 64; ++look) {
            const bool onFolder = at == watch.folder;
            const std::uint32_t mask = (onFolder ? watch.mask : arrivals) | selfChanges | IN_ONLYDIR | IN_MASK_ADD;
            const int descriptor = ::inotify_add_watch(fd_, at.c_str(), mask);
            if (descriptor >= 0) {
                watch.descriptor = descriptor;
                watch.armedAt = at;
                ++uses_[descriptor];
                // The next folder may have come between the two looks.
                std::error_code ignored;
                if (!onFolder && fs::is_directory(at / nextStep(watch), ignored)) {
                    disarm(watch);
                    at = watch.folder;
                    continue;
                }
                return;
            }
            if ((errno != ENOENT && errno != ENOTDIR) || !at.has_relative_path()) return;
            at = at.parent_path();
        }
    }

    void disarm(Watch& watch) {
        if (watch.descriptor < 0) return;
        if (const auto found = uses_.find(watch.descriptor); found != uses_.end() && --found->second == 0) {
            ::inotify_rm_watch(fd_, watch.descriptor);
            uses_.erase(found);
        }
        watch.descriptor = -1;
    }

    // The name of the folder below armedAt on the way to the watched folder.
    static std::string nextStep(const Watch& watch) {
        const fs::path rest = watch.folder.lexically_relative(watch.armedAt);
        return rest.empty() ? std::string() : rest.begin()->string();
    }

    // On the watcher's thread: every event waiting, handed to the watches
    // they concern.
    void receive() {
        alignas(inotify_event) char buffer[16 * 1024];
        for (;;) {
            const ssize_t got = ::read(fd_, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return; // EAGAIN: all read
            std::vector<std::pair<Watch, std::string>> deliveries;
            {
                std::lock_guard lock(mutex_);
                for (ssize_t at = 0; at < got;) {
                    const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                    at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                    take(*event, event->len ? std::string(event->name) : std::string(), deliveries);
                }
            }
            for (auto& [watch, name] : deliveries) deliver(watch, std::move(name));
        }
    }

    // With the lock held.
    void take(const inotify_event& event, const std::string& name, std::vector<std::pair<Watch, std::string>>& out) {
        if (event.mask & IN_Q_OVERFLOW) {
            // Changes were lost: every watch looks again.
            for (auto& [id, watch] : watches_) out.emplace_back(watch, std::string());
            return;
        }
        const bool ended = event.mask & (selfChanges | IN_IGNORED);
        if (ended) {
            // The kernel's watch is gone, or follows a folder moved away.
            ::inotify_rm_watch(fd_, event.wd);
            uses_.erase(event.wd);
        }
        for (auto& [id, watch] : watches_) {
            if (watch.descriptor != event.wd) continue;
            const bool onFolder = watch.armedAt == watch.folder;
            if (ended) {
                watch.descriptor = -1;
                arm(watch);
                // The folder went, or is back: whatever was in it may have changed.
                if (onFolder || watch.armedAt == watch.folder) out.emplace_back(watch, std::string());
            } else if (onFolder) {
                if ((event.mask & watch.mask) && !name.empty()) out.emplace_back(watch, name);
            } else if ((event.mask & arrivals) && name == nextStep(watch)) {
                arm(watch);
                if (watch.armedAt == watch.folder) out.emplace_back(watch, std::string());
            }
        }
    }

    void deliver(const Watch& watch, std::string name) {
        watch.executor->post([weak = weak_from_this(), handler = watch.handler, name = std::move(name)] {
            // A watch dropped since gets nothing more.
            const auto self = weak.lock();
            if (!self || !self->stands(handler)) return;
            (*handler)(name);
        });
    }

    bool stands(const std::shared_ptr<Handler>& handler) const {
        std::lock_guard lock(mutex_);
        for (const auto& [id, watch] : watches_)
            if (watch.handler == handler) return true;
        return false;
    }

    const int fd_;
    std::unique_ptr<DescriptorWatcher> thread_;
    Subscription watch_;
    mutable std::mutex mutex_;
    std::map<std::uint64_t, Watch> watches_;
    // How many watches share each kernel watch.
    std::map<int, int> uses_;
    std::uint64_t nextID_ = 1;
};

} // namespace

std::shared_ptr<FolderWatcher> FolderWatcher::shared() {
    static std::mutex mutex;
    static std::weak_ptr<FolderWatcher> current;
    std::lock_guard lock(mutex);
    if (auto watcher = current.lock()) return watcher;
    std::shared_ptr<FolderWatcher> watcher = InotifyFolderWatcher::make();
    current = watcher;
    return watcher;
}

} // namespace ravolet::platform
