// The folder watcher on this machine's kernel (inotify) and file system.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <fstream>
#include <mutex>

#include "Platform/Linux/FolderWatcher.hpp"
#include "Platform/Linux/LinuxFileSystem.hpp"
#include "Platform/SerialQueue.hpp"

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

} // namespace
} // namespace ravolet::platform
