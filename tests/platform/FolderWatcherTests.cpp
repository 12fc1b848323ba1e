// The folder watcher on this machine's kernel (inotify) and file system.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <fstream>
#include <mutex>
#include <string>

#include "Platform/Linux/FolderWatcher.hpp"
#include "Platform/Linux/LinuxFileSystem.hpp"
#include "Platform/SerialQueue.hpp"
#include "tests/platform/FolderTree.hpp"

namespace ravolet::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The names a watch told of, for the test to wait on.
class Heard {
public:
    FolderWatcher::Handler handler() {
        return [this](const std::string& name) {
            std::lock_guard guard(lock_);
            names_.push_back(name);
            arrived_.notify_all();
        };
    }
    // Whether `name` was told of (within a patience far beyond what the
    // kernel needs); what came before it is passed over.
    bool awaits(const std::string& name) {
        std::unique_lock guard(lock_);
        for (;;) {
            if (!arrived_.wait_for(guard, 10s, [this] { return !names_.empty(); })) return false;
            const std::string next = names_.front();
            names_.pop_front();
            if (next == name) return true;
        }
    }
    bool silent() {
        std::unique_lock guard(lock_);
        names_.clear();
        return !arrived_.wait_for(guard, 300ms, [this] { return !names_.empty(); });
    }

private:
    std::mutex lock_;
    std::condition_variable arrived_;
    std::deque<std::string> names_;
};

TEST(FolderWatcher, TellsOfEveryProgramsChangesWaitsForAFolderToComeAndFollowsItBack) {
    std::string pattern = (fs::path(::testing::TempDir()) / "ravolet-watch-XXXXXX").string();
    const fs::path root = ::mkdtemp(pattern.data());
    const fs::path folder = root / "config" / "ravolet";
    const auto watcher = FolderWatcher::shared();
    ASSERT_NE(watcher, nullptr);
    const auto queue = std::make_shared<SerialQueue>("folder-watcher-test", QueuePriority::userInitiated);
    Heard contents, attributes;
    Subscription watchingContents = watcher->watch(folder, FolderWatcher::Changes::contents, queue, contents.handler());
    Subscription watchingAttributes =
        watcher->watch(folder, FolderWatcher::Changes::attributes, queue, attributes.handler());

    // Not there yet: heard of once it comes, two levels down.
    fs::create_directories(folder);
    EXPECT_TRUE(contents.awaits(""));
    // Ravolet's own atomic write and another program's plain one.
    LinuxFileSystem files;
    ASSERT_TRUE(files.writeFileAtomically(folder / "config.json", "{}"));
    EXPECT_TRUE(contents.awaits("config.json"));
    std::ofstream(folder / "notes.txt") << "by hand";
    EXPECT_TRUE(contents.awaits("notes.txt"));
    ASSERT_EQ(::chmod((folder / "notes.txt").c_str(), 0600), 0);
    EXPECT_TRUE(attributes.awaits("notes.txt"));

    // Removed and made again, it is followed back.
    fs::remove_all(root / "config");
    EXPECT_TRUE(contents.awaits(""));
    fs::create_directories(folder);
    EXPECT_TRUE(contents.awaits(""));
    std::ofstream(folder / "config.json") << "{ }";
    EXPECT_TRUE(contents.awaits("config.json"));

    // Dropped, it tells nothing more once the queue has run out what was
    // already under way (the file's write made more than one notice).
    watchingContents.cancel();
    ASSERT_TRUE(queue->sync([] {}));
    EXPECT_TRUE(contents.silent());
    std::ofstream(folder / "config.json") << "{  }";
    EXPECT_TRUE(contents.silent());
    fs::remove_all(root);
}

// Hands its tasks on to a queue, but the first post waits until released:
// the watcher's thread stops there, and the kernel's queue fills meanwhile.
class StallingExecutor final : public Executor {
public:
    explicit StallingExecutor(std::shared_ptr<Executor> next) : next_(std::move(next)) {}
    void post(Task task) override {
        std::unique_lock guard(lock_);
        if (!stalled_) {
            stalled_ = true;
            changed_.notify_all();
            changed_.wait(guard, [this] { return released_; });
        }
        guard.unlock();
        next_->post(std::move(task));
    }
    bool isCurrent() const override { return next_->isCurrent(); }
    bool awaitStall() {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, 10s, [this] { return stalled_; });
    }
    void release() {
        std::lock_guard guard(lock_);
        released_ = true;
        changed_.notify_all();
    }

private:
    const std::shared_ptr<Executor> next_;
    std::mutex lock_;
    std::condition_variable changed_;
    bool stalled_ = false;
    bool released_ = false;
};

// Another program's save: a new file beside, renamed over the old one.
void replaceByRename(const fs::path& file, const std::string& bytes) {
    const fs::path temporary = file.parent_path() / (".#" + file.filename().string());
    std::ofstream(temporary) << bytes;
    fs::rename(temporary, file);
}

TEST(FolderWatcher, ALinkedFolderAnotherProgramsRenameAndChangesTheKernelLostAreAllTold) {
    const testing::FolderTree root("watch-linked");
    const fs::path real = root.path / "dotfiles";
    const fs::path linked = root.path / "ravolet";
    fs::create_directories(real);
    fs::create_directory_symlink(real, linked);
    const auto watcher = FolderWatcher::shared();
    ASSERT_NE(watcher, nullptr);
    const auto queue = std::make_shared<SerialQueue>("folder-watcher-test", QueuePriority::userInitiated);
    Heard heard;
    Subscription watching = watcher->watch(linked, FolderWatcher::Changes::contents, queue, heard.handler());
    // A folder reached through a link is the folder it leads to.
    std::ofstream(real / "config.json") << "{}";
    EXPECT_TRUE(heard.awaits("config.json"));
    replaceByRename(linked / "config.json", "{ }");
    EXPECT_TRUE(heard.awaits("config.json")) << "a rename over the file";

    // More changes than the kernel keeps while nobody reads: it says some
    // were lost, which is told as anything in the folder having changed.
    const auto stalling = std::make_shared<StallingExecutor>(queue);
    Heard overflowed;
    Subscription stalled = watcher->watch(real, FolderWatcher::Changes::contents, stalling, overflowed.handler());
    std::ofstream(real / "first") << "1";
    ASSERT_TRUE(stalling->awaitStall());
    std::ifstream limit("/proc/sys/fs/inotify/max_queued_events");
    int queued = 16384;
    limit >> queued;
    for (int i = 0; i <= queued / 2 + 1; ++i) {
        const fs::path file = real / ("f" + std::to_string(i));
        std::ofstream(file).close();
        fs::remove(file);
    }
    stalling->release();
    EXPECT_TRUE(overflowed.awaits("")) << "the kernel's queue overflowed";
    EXPECT_TRUE(heard.awaits("")) << "every watch looks again";
}

TEST(FolderWatcher, AFileKeptThroughALinkIsFollowedWhereItLivesAndWhereverTheLinkIsPointed) {
    const testing::FolderTree root("watch-file");
    const fs::path settings = root.path / "config" / "ravolet";
    const fs::path dotfiles = root.path / "dotfiles";
    const fs::path elsewhere = root.path / "elsewhere";
    for (const fs::path& folder : {settings, dotfiles, elsewhere}) fs::create_directories(folder);
    std::ofstream(dotfiles / "ravolet.json") << "{}";
    std::ofstream(elsewhere / "other.json") << "{}";
    fs::create_symlink(dotfiles / "ravolet.json", settings / "config.json");
    const auto queue = std::make_shared<SerialQueue>("file-watch-test", QueuePriority::userInitiated);
    Heard heard;
    LinuxFileSystem files;
    Subscription watching = files.watchFile(settings / "config.json", queue, [handler = heard.handler()] { handler("changed"); });

    std::ofstream(dotfiles / "ravolet.json") << "{ }";
    EXPECT_TRUE(heard.awaits("changed")) << "written in place";
    replaceByRename(dotfiles / "ravolet.json", "{  }");
    EXPECT_TRUE(heard.awaits("changed")) << "replaced by a rename";
    std::ofstream(dotfiles / "unrelated.txt") << "x";
    EXPECT_TRUE(heard.silent()) << "another file beside the target";

    // Pointed elsewhere, as `ln -sfn` does: a new link renamed over the old.
    fs::create_symlink(elsewhere / "other.json", settings / ".config.json.new");
    fs::rename(settings / ".config.json.new", settings / "config.json");
    EXPECT_TRUE(heard.awaits("changed")) << "the link itself";
    std::ofstream(elsewhere / "other.json") << "{ }";
    EXPECT_TRUE(heard.awaits("changed")) << "the new target, written in place";
    std::ofstream(dotfiles / "ravolet.json") << "{   }";
    EXPECT_TRUE(heard.silent()) << "the old target is no longer the file";
}

} // namespace
} // namespace ravolet::platform
