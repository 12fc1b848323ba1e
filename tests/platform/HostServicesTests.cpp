#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <string>
#include <thread>
#include <utility>
#include <vector>
#include <unistd.h>

#include "Platform/Linux/Desktop/DisplayServer.hpp"
#include "Platform/Linux/JsonFileKeyValueStore.hpp"
#include "Platform/Linux/LinuxFileSystem.hpp"
#include "Platform/Linux/SingleInstance.hpp"
#include "Platform/Linux/SystemClock.hpp"
#include "Platform/Simulated/InMemoryFileSystem.hpp"
#include "Platform/Simulated/InMemoryKeyValueStore.hpp"
#include "Platform/Simulated/SimulatedClock.hpp"

using namespace ravolet::platform;
namespace fs = std::filesystem;

namespace {

// A fresh folder under the test's temporary directory, removed afterwards.
struct TemporaryFolder {
    fs::path path;
    TemporaryFolder() {
        std::string pattern = (fs::path(::testing::TempDir()) / "ravolet-XXXXXX").string();
        path = ::mkdtemp(pattern.data());
    }
    ~TemporaryFolder() { fs::remove_all(path); }
};

// The same file system rules, on the real one and on the in-memory stand-in.
struct FileSystemTest : ::testing::TestWithParam<bool> {
    TemporaryFolder temporary;
    std::shared_ptr<FileSystem> files = GetParam() ? std::shared_ptr<FileSystem>(std::make_shared<LinuxFileSystem>())
                                                   : std::make_shared<InMemoryFileSystem>();
    fs::path root = GetParam() ? temporary.path : fs::path("/tmp/ravolet");
};

} // namespace

TEST_P(FileSystemTest, FilesAreReplacedWholeAndNeverMovedOverAnother) {
    const fs::path folder = root / "a" / "b";
    const fs::path file = folder / "x.json";
    auto missing = files->writeFileAtomically(file, "{}");
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().description(), "cannot write " + file.string() + ": No such file or directory");

    ASSERT_TRUE(files->createDirectories(folder));
    ASSERT_TRUE(files->createDirectories(folder)); // already there: fine
    ASSERT_TRUE(files->writeFileAtomically(file, "one"));
    ASSERT_TRUE(files->writeFileAtomically(file, "two"));
    EXPECT_EQ(files->readFile(file), "two");
    ASSERT_TRUE(files->writeFileAtomically(folder / "y.json", "other"));
    EXPECT_EQ(files->listDirectory(folder), (std::vector<std::string>{"x.json", "y.json"})); // no temporary left over

    // Replaced only while the caller's check holds once the new bytes are
    // down (on Linux, in a temporary beside the file), and nothing left when not.
    std::size_t listedWhenAsked = 0;
    const auto refused = files->writeFileAtomicallyIf(file, "three", [&] {
        listedWhenAsked = files->listDirectory(folder).value_or(std::vector<std::string>{}).size();
        return false;
    });
    ASSERT_TRUE(refused);
    EXPECT_FALSE(*refused);
    EXPECT_EQ(files->readFile(file), "two");
    if (GetParam()) {
        EXPECT_EQ(listedWhenAsked, 3u) << "asked once the new bytes are beside the file";
    }
    EXPECT_EQ(files->listDirectory(folder), (std::vector<std::string>{"x.json", "y.json"}));
    EXPECT_EQ(files->writeFileAtomicallyIf(file, "two", [] { return true; }), true);

    const auto taken = files->moveWithoutReplacing(file, folder / "y.json");
    ASSERT_FALSE(taken);
    EXPECT_EQ(taken.error().code, EEXIST);
    EXPECT_EQ(taken.error().description(),
              "cannot move " + file.string() + " to " + (folder / "y.json").string() + ": File exists");
    EXPECT_EQ(files->readFile(folder / "y.json"), "other");
    ASSERT_TRUE(files->moveWithoutReplacing(file, folder / "z.json"));
    EXPECT_FALSE(files->exists(file));
    EXPECT_EQ(files->readFile(folder / "z.json"), "two");

    EXPECT_TRUE(files->removeFile(folder / "z.json"));
    const auto gone = files->removeFile(folder / "z.json");
    ASSERT_FALSE(gone);
    EXPECT_TRUE(gone.error().isNotFound());
    EXPECT_TRUE(files->readFile(folder / "z.json").error().isNotFound());

    const auto blocked = files->createDirectories(folder / "y.json" / "c");
    ASSERT_FALSE(blocked);
    EXPECT_EQ(blocked.error().code, ENOTDIR);
    EXPECT_EQ(files->readFile(folder).error().code, EISDIR);
}

INSTANTIATE_TEST_SUITE_P(LinuxAndInMemory, FileSystemTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Linux" : "InMemory"; });

TEST(LinuxFileSystemTest, SettingsFolderAndPermissionsOfReplacedFiles) {
    EXPECT_EQ(LinuxFileSystem::settingsFolderFor("/x/config", "/home/u"), "/x/config/ravolet");
    EXPECT_EQ(LinuxFileSystem::settingsFolderFor("relative/config", "/home/u"), "/home/u/.config/ravolet");
    EXPECT_EQ(LinuxFileSystem::settingsFolderFor(std::nullopt, "/home/u"), "/home/u/.config/ravolet");
    {
        // Settings a signal could not save go to the cache before the runtime
        // folder, which logout empties.
        std::vector<std::pair<const char*, std::optional<std::string>>> saved;
        for (const char* name : {"XDG_CACHE_HOME", "XDG_RUNTIME_DIR"}) {
            const char* value = std::getenv(name);
            saved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
        }
        ::setenv("XDG_CACHE_HOME", "/c", 1);
        ::setenv("XDG_RUNTIME_DIR", "/r", 1);
        EXPECT_EQ(LinuxFileSystem().spareFolders(), (std::vector<fs::path>{"/c/ravolet", "/r/ravolet"}));
        for (const auto& [name, value] : saved) value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
    }

    TemporaryFolder temporary;
    LinuxFileSystem files;
    const fs::path file = temporary.path / "p.json";
    ASSERT_TRUE(files.writeFileAtomically(file, "a"));
    struct stat info{};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u); // new files are the user's own
    ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
    ASSERT_TRUE(files.writeFileAtomically(file, "b"));
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
}

TEST(LinuxFileSystemTest, OnlyRegularFilesOfBoundedSizeAreReadAndNothingBlocks) {
    TemporaryFolder temporary;
    LinuxFileSystem files;
    const fs::path pipe = temporary.path / "pipe.json", zeros = temporary.path / "zeros.json",
                   big = temporary.path / "big.json";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", zeros);
    // 17 MiB, sparse.
    ASSERT_TRUE(files.writeFileAtomically(big, ""));
    ASSERT_EQ(::truncate(big.c_str(), 17 * 1024 * 1024), 0);
    const std::vector<std::pair<fs::path, std::string>> refused = {
        {pipe, "it is a named pipe, not a regular file"},
        {zeros, "it is a character device, not a regular file"},
        {big, "it is larger than 16 MiB"},
        {temporary.path, "Is a directory"},
    };
    for (const auto& [file, reason] : refused) {
        const auto read = files.readFile(file);
        ASSERT_FALSE(read) << file;
        EXPECT_EQ(read.error().description(), "cannot read " + file.string() + ": " + reason);
    }
    ASSERT_EQ(::truncate(big.c_str(), 16 * 1024 * 1024), 0);
    EXPECT_EQ(files.readFile(big)->size(), 16u * 1024 * 1024) << "the limit itself is read";
}

TEST(LinuxFileSystemTest, ALinkedFileIsWrittenThroughAndLeftoversOfCutWritesGo) {
    TemporaryFolder temporary;
    LinuxFileSystem files;
    const fs::path settings = temporary.path / "ravolet", dotfiles = temporary.path / "dotfiles";
    fs::create_directories(settings);
    fs::create_directories(dotfiles);
    const fs::path link = settings / "config.json";
    fs::create_symlink("../dotfiles/ravolet.json", link);
    ASSERT_TRUE(files.writeFileAtomically(link, "new")); // the target did not exist yet
    ASSERT_TRUE(files.writeFileAtomically(link, "newer"));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(files.readFile(dotfiles / "ravolet.json"), "newer");
    EXPECT_EQ(files.listDirectory(dotfiles), (std::vector<std::string>{"ravolet.json"}));

    // Only names of the program's own making go, and only those no copy of
    // it is writing (holding locked); a user's look-alike stays.
    for (const fs::path& leftover :
         {settings / ".ravolet-tmp.preferences.json.Ab12Cd", dotfiles / ".ravolet-tmp.ravolet.json.x9Y8z7"})
        ASSERT_TRUE(files.writeFileAtomically(leftover, "cut short"));
    const std::vector<std::string> kept = {".config.json.backup",          ".preferences.json.Ab12Cd",
                                           ".ravolet-tmp.config.json.Ab12Cd", ".ravolet-tmp.preferences.json.Ab1",
                                           ".ravolet-tmp.preferences.json.Ab12Cd7", ".ravolet-tmp.preferences.json.Ab-2Cd",
                                           "ravolet-tmp.preferences.json.Ab12Cd"};
    for (const std::string& name : kept) ASSERT_TRUE(files.writeFileAtomically(settings / name, "someone else's"));
    fs::create_directory(settings / ".ravolet-tmp.preferences.json.Folder");
    ASSERT_TRUE(files.writeFileAtomically(settings / ".ravolet-tmp.preferences.json.Held00", "being written"));
    const int held = ::open((settings / ".ravolet-tmp.preferences.json.Held00").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);

    EXPECT_EQ(files.removeLeftoverTemporaries(settings / "preferences.json"), 1);
    EXPECT_EQ(files.removeLeftoverTemporaries(link), 1) << "beside the link's target";
    EXPECT_EQ(files.listDirectory(dotfiles), (std::vector<std::string>{"ravolet.json"}));
    for (const std::string& name : kept) EXPECT_TRUE(fs::exists(settings / name)) << name;
    EXPECT_TRUE(fs::is_directory(settings / ".ravolet-tmp.preferences.json.Folder"));
    EXPECT_TRUE(fs::exists(settings / ".ravolet-tmp.preferences.json.Held00")) << "a copy holds it";
    ::close(held);
    EXPECT_EQ(files.removeLeftoverTemporaries(settings / "preferences.json"), 1) << "let go";
}

TEST(SingleInstanceTest, OneCopyPerFolderHoldsTheLockAndTheNextCallsItOrWaitsForItToEnd) {
    using namespace std::chrono_literals;
    TemporaryFolder temporary;
    const fs::path folder = temporary.path / "ravolet";
    EXPECT_EQ(SingleInstance::socketPath(folder, "/run/user/1000")->parent_path(), "/run/user/1000");
    EXPECT_EQ(SingleInstance::socketPath(folder, "relative"), folder / "ravolet.socket");
    EXPECT_TRUE(SingleInstance::socketPath("/" + std::string(200, 'x'), std::nullopt).value_or("").string().starts_with("@ravolet-"))
        << "no path fits: a name without a file";
    // Too long a settings path for a socket, and no runtime folder.
    const fs::path deep = temporary.path / std::string(120, 'x') / "ravolet";
    fs::create_directories(temporary.path / "other");

    struct Case {
        const char* what;
        fs::path folder;
        std::optional<std::string> runtime;
        // The later copies' runtime folder, where it is not the first's.
        std::optional<std::string> laterRuntime;
    } cases[] = {
        {"in the runtime folder", folder, temporary.path.string(), std::nullopt},
        {"in the settings folder", folder, std::nullopt, std::nullopt},
        {"a later copy with another runtime folder", folder, temporary.path.string(), (temporary.path / "other").string()},
        {"a settings path too long for a socket", deep, std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto laterRuntime = c.laterRuntime ? c.laterRuntime : c.runtime;
        auto first = SingleInstance::claim(c.folder, c.runtime);
        ASSERT_EQ(first->role(), SingleInstance::Role::first);
        ASSERT_GE(first->callDescriptor(), 0);
        EXPECT_EQ(first->takeCalls(), 0);
        // The first copy answers from its own loop, as the program does.
        std::atomic<int> answered = 0;
        std::atomic<bool> quitting = false;
        std::thread loop([&] {
            while (!quitting) {
                pollfd calls{first->callDescriptor(), POLLIN, 0};
                if (::poll(&calls, 1, 10) == 1) answered += first->takeCalls();
            }
        });
        {
            const auto second = SingleInstance::claim(c.folder, laterRuntime);
            ASSERT_EQ(second->role(), SingleInstance::Role::second);
            EXPECT_EQ(second->callFirst(), SingleInstance::Call::answered);
            EXPECT_EQ(second->callFirst(), SingleInstance::Call::answered);
            EXPECT_EQ(second->role(), SingleInstance::Role::second);
        }
        quitting = true;
        loop.join();
        EXPECT_EQ(answered, 2);

        // Running on but answering no more (stopped, or stuck): a later copy
        // waits no longer than its patience, and says why, naming the process.
        const std::string holder = "it (process " + std::to_string(::getpid()) + ")";
        const auto third = SingleInstance::claim(c.folder, laterRuntime);
        const auto refused = third->callFirst(100ms);
        ASSERT_FALSE(refused);
        EXPECT_EQ(refused.error(), holder + " neither answered nor ended within 0.1 seconds");

        // Quitting, the first answers no more, and a later copy waits for it
        // to end beyond its patience, up to the longer one for a quit; a
        // quit that hangs is said as such.
        first->stopAnswering();
        EXPECT_EQ(first->callDescriptor(), -1);
        const auto hung = third->callFirst(100ms, 300ms);
        ASSERT_FALSE(hung);
        EXPECT_EQ(hung.error(), holder + " began to quit but did not end within 0.3 seconds");
        std::thread ending([&] {
            std::this_thread::sleep_for(500ms);
            first.reset();
        });
        EXPECT_EQ(third->callFirst(100ms), SingleInstance::Call::tookOver);
        ending.join();
        EXPECT_EQ(third->role(), SingleInstance::Role::first);
        EXPECT_GE(third->callDescriptor(), 0) << "it listens in the first's place";
        const auto fourth = SingleInstance::claim(c.folder, c.runtime);
        EXPECT_EQ(fourth->role(), SingleInstance::Role::second);
        const auto unanswered = fourth->callFirst(100ms);
        EXPECT_FALSE(unanswered) << "nobody answers in the third's loop";
    }
}

// The session's display server, as the guard waits for it: whoever listens
// on the socket WAYLAND_DISPLAY names in XDG_RUNTIME_DIR; stopped, it still
// runs; once it has ended it does not, and the socket names nobody.
TEST(DisplayServerTest, IsWhoeverListensOnTheDisplaysSocketAndRunsUntilItEnds) {
    TemporaryFolder runtime;
    const fs::path socket = runtime.path / "wayland-7";
    const pid_t server = ::fork();
    if (server == 0) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, socket.c_str(), socket.native().size());
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 4) != 0)
            ::_exit(1);
        for (;;) ::pause();
    }
    ASSERT_GT(server, 0);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!fs::exists(socket) && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::vector<std::pair<const char*, std::optional<std::string>>> saved;
    for (const char* name : {"WAYLAND_DISPLAY", "XDG_RUNTIME_DIR", "DISPLAY", "SWAYSOCK"}) {
        const char* value = std::getenv(name);
        saved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
        ::unsetenv(name);
    }
    ::setenv("WAYLAND_DISPLAY", "wayland-7", 1);
    ::setenv("XDG_RUNTIME_DIR", runtime.path.c_str(), 1);
    const auto found = DisplayServer::ofThisSession();
    ASSERT_TRUE(found);
    EXPECT_EQ(found->pid(), server);
    EXPECT_TRUE(found->isRunning());
    ASSERT_EQ(::kill(server, SIGSTOP), 0);
    EXPECT_TRUE(found->isRunning()) << "stopped, it runs still";
    ASSERT_EQ(::kill(server, SIGKILL), 0);
    ASSERT_EQ(::waitpid(server, nullptr, 0), server);
    EXPECT_FALSE(found->isRunning());
    EXPECT_FALSE(DisplayServer::ofThisSession()) << "nobody listens there any more";
    for (const auto& [name, value] : saved) value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
}

TEST(KeyValueStoreTest, TypedReadsAndTheBooleanReading) {
    InMemoryKeyValueStore store({{"bool", true},
                                 {"int", std::int64_t{0}},
                                 {"int2", std::int64_t{-3}},
                                 {"double", 0.5},
                                 {"zero", 0.0},
                                 {"yes", std::string("YeS")},
                                 {"one", std::string("1")},
                                 {"true", std::string("TRUE")},
                                 {"two", std::string("2")},
                                 {"on", std::string("on")},
                                 {"spaced", std::string(" true")}});
    const std::vector<std::pair<std::string, bool>> readings{
        {"bool", true}, {"int", false}, {"int2", true}, {"double", true}, {"zero", false}, {"yes", true},
        {"one", true},  {"true", true}, {"two", false}, {"on", false},    {"spaced", false}, {"absent", false}};
    for (const auto& [key, expected] : readings) EXPECT_EQ(store.boolean(key), expected) << key;

    EXPECT_EQ(store.boolValue("bool"), true);
    EXPECT_EQ(store.boolValue("int"), std::nullopt);
    EXPECT_EQ(store.integerValue("int2"), -3);
    EXPECT_EQ(store.integerValue("bool"), std::nullopt);
    EXPECT_EQ(store.integerValue("double"), std::nullopt);
    EXPECT_EQ(store.doubleValue("int2"), -3.0);
    EXPECT_EQ(store.stringValue("one"), "1");
    EXPECT_EQ(store.stringValue("int"), std::nullopt);
}

TEST(JsonFileKeyValueStoreTest, ValuesKeepTheirKindsAcrossLaunches) {
    TemporaryFolder temporary;
    const auto files = std::make_shared<LinuxFileSystem>();
    const fs::path file = temporary.path / "ravolet" / "preferences.json"; // the folder comes with the first write
    files->createDirectories(file.parent_path());
    files->writeFileAtomically(file, R"({"kept": [1, {"x": null}], "big": 18446744073709551615})");
    {
        JsonFileKeyValueStore store(file, files);
        store.set("b", true);
        store.set("i", std::int64_t{1});
        store.set("d", 1.0);
        store.set("s", std::string("1"));
        store.set("nan", std::nan(""));
        store.set("gone", true);
        store.remove("gone");
        EXPECT_EQ(store.lastError(), std::nullopt);
    }
    JsonFileKeyValueStore again(file, files);
    EXPECT_EQ(again.value("b"), KeyValue{true});
    EXPECT_EQ(again.value("i"), KeyValue{std::int64_t{1}});
    EXPECT_EQ(again.value("d"), KeyValue{1.0});
    EXPECT_EQ(again.value("s"), KeyValue{std::string("1")});
    EXPECT_EQ(again.value("big"), KeyValue{18446744073709551615.0});
    EXPECT_EQ(again.value("nan"), std::nullopt);
    EXPECT_EQ(again.value("gone"), std::nullopt);
    EXPECT_EQ(again.value("kept"), std::nullopt); // not one of the four kinds, but written back untouched
    EXPECT_NE(files->readFile(file)->find(R"("kept": [)"), std::string::npos);
}

TEST(JsonFileKeyValueStoreTest, AnUnreadableFileIsMovedAsideAndNeverOverwritten) {
    const auto files = std::make_shared<InMemoryFileSystem>();
    const fs::path file = files->settingsFolder() / "preferences.json";
    using namespace std::string_literals;
    for (const auto& [bytes, aside] : {std::pair{"[true]"s, "preferences.unreadable.json"},
                                       std::pair{"{\"a\": tru"s, "preferences.unreadable-2.json"},
                                       std::pair{"{\"b\": 1}\0}garbage"s, "preferences.unreadable-3.json"},
                                       // Written back, 100,000 levels would recurse once each.
                                       std::pair{"{\"c\": "s + std::string(100000, '[') + std::string(100000, ']') + "}",
                                                 "preferences.unreadable-4.json"},
                                       std::pair{"{\"c\": "s + std::string(64, '[') + std::string(64, ']') + "}",
                                                 "preferences.unreadable-5.json"}}) {
        files->putFile(file, bytes);
        JsonFileKeyValueStore store(file, files);
        EXPECT_EQ(store.value("a"), std::nullopt);
        EXPECT_EQ(store.keptAsideAt(), file.parent_path() / aside);
        EXPECT_EQ(files->readFile(file.parent_path() / aside), bytes);
        store.set("a", true);
        EXPECT_EQ(files->readFile(file), "{\n  \"a\": true\n}\n");
    }

    files->putFile(file, "garbage");
    files->fail(InMemoryFileSystem::Operation::move, EACCES);
    JsonFileKeyValueStore blocked(file, files);
    blocked.set("a", false);
    EXPECT_EQ(blocked.value("a"), KeyValue{false}); // kept in memory
    EXPECT_EQ(files->readFile(file), "garbage");
    ASSERT_TRUE(blocked.lastError());
    EXPECT_EQ(blocked.lastError()->code, EACCES);

    // Once the file can be moved, a retry sets it aside and writes what was kept.
    files->fail(InMemoryFileSystem::Operation::move, 0);
    files->fail(InMemoryFileSystem::Operation::write, ENOSPC);
    blocked.retryWrite();
    EXPECT_EQ(blocked.lastError()->code, ENOSPC);
    EXPECT_EQ(files->readFile(file.parent_path() / "preferences.unreadable-6.json"), "garbage");
    files->fail(InMemoryFileSystem::Operation::write, 0);
    blocked.retryWrite();
    EXPECT_EQ(blocked.lastError(), std::nullopt);
    EXPECT_EQ(files->readFile(file), "{\n  \"a\": false\n}\n");

    // Sixty-four levels in all are read.
    files->putFile(file, "{\"c\": " + std::string(63, '[') + std::string(63, ']') + "}");
    EXPECT_EQ(JsonFileKeyValueStore(file, files).keptAsideAt(), std::nullopt);
}

TEST(SimulatedClockTest, StandsStillUntilMoved) {
    SimulatedClock clock;
    EXPECT_EQ(clock.now(), SimulatedClock::defaultStart);
    clock.advance(std::chrono::seconds(90));
    EXPECT_EQ(std::chrono::floor<std::chrono::seconds>(clock.now()), SimulatedClock::defaultStart + std::chrono::seconds(90));
}

TEST(SystemClockTest, TheLocalOffsetFollowsTheTimeZoneAndItsSummerTime) {
    const char* saved = std::getenv("TZ");
    const std::optional<std::string> previous = saved ? std::optional<std::string>(saved) : std::nullopt;
    using namespace std::chrono;
    const auto winter = sys_days{year{2025} / January / 15} + hours{12};
    const auto summer = sys_days{year{2025} / July / 15} + hours{12};
    SystemClock clock;
    const std::vector<std::tuple<const char*, seconds, seconds>> zones = {
        {"UTC0", seconds{0}, seconds{0}},
        {"CET-1CEST,M3.5.0,M10.5.0/3", hours{1}, hours{2}},
        {"EST5EDT,M3.2.0,M11.1.0", -hours{5}, -hours{4}},
    };
    for (const auto& [zone, winterOffset, summerOffset] : zones) {
        ::setenv("TZ", zone, 1);
        ::tzset();
        EXPECT_EQ(clock.localTimeOffset(winter), winterOffset) << zone;
        EXPECT_EQ(clock.localTimeOffset(summer), summerOffset) << zone;
    }
    if (previous) {
        ::setenv("TZ", previous->c_str(), 1);
    } else {
        ::unsetenv("TZ");
    }
    ::tzset();

    SimulatedClock simulated;
    EXPECT_EQ(simulated.localTimeOffset(simulated.now()), seconds{0});
    simulated.setLocalTimeOffset(-hours{10});
    EXPECT_EQ(simulated.localTimeOffset(summer), -hours{10});
}
