#pragma once

#include <chrono>
#include <expected>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace ravolet::platform {

// One running copy of the program per settings folder, so one per user: two
// copies would each save their own document over the other's. The first copy
// holds a lock on a file in the folder for as long as it runs and listens on
// a socket of its own; a later copy finds the lock taken and calls the first
// through that socket, which answers and brings its settings window forward.
//
// A copy that quits says so in the lock file and stops answering before it
// saves, and keeps the lock until it has ended: a later copy started
// meanwhile hears no answer, waits for the lock and then runs in its place,
// on the settings just saved. It waits longer for a quitting copy than for a
// running one, but not for ever: a copy that hangs as it quits is reported
// as one that does not answer.
//
// The socket lives in $XDG_RUNTIME_DIR, named after the settings folder, else
// in the settings folder itself, else (no path fits a socket's address) in
// the abstract namespace. The first copy writes its process and socket into
// the lock file, so a later copy with another runtime folder reaches it too.
// Only calls from the same user count, and only the same user's answer.
class SingleInstance {
public:
    static constexpr std::string_view lockName = "ravolet.lock";

    enum class Role {
        // This copy holds the lock (and listens, where a socket can be had).
        first,
        // Another copy holds it.
        second,
        // No lock can be had (a folder that cannot be written): this copy runs
        // without one, as every copy did before.
        alone,
    };

    // Takes the folder's lock, creating the folder and the lock file as needed.
    static std::unique_ptr<SingleInstance> claim(const std::filesystem::path& settingsFolder);
    static std::unique_ptr<SingleInstance> claim(const std::filesystem::path& settingsFolder,
                                                 const std::optional<std::string>& runtimeFolder);
    // Releases the lock and removes the socket.
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    Role role() const { return role_; }
    // The socket of the copies of this folder: in the runtime folder when that
    // is an absolute path, else in the settings folder; where neither path
    // fits in a socket address, a name of the abstract namespace, written
    // with a leading "@".
    static std::optional<std::filesystem::path> socketPath(const std::filesystem::path& settingsFolder,
                                                           const std::optional<std::string>& runtimeFolder);

    // The first copy: a descriptor that becomes readable when a later copy
    // calls (-1 without a socket, and once it stops answering), and the calls
    // waiting there, taken, answered and counted.
    int callDescriptor() const { return listening_; }
    int takeCalls();
    // The first copy, as it begins to quit: takes no more calls, and drops
    // those not taken yet, unanswered. The lock stays until the instance goes.
    void stopAnswering();

    // How long a later copy waits for an answer or the lock by default: a
    // first copy still starting up, or busy.
    static constexpr std::chrono::seconds patience{10};
    // How long it waits for a copy it finds quitting to end. A quit takes at
    // most 5 s (the desktop's setting and the mouse put back, each within its
    // own limit) beside its saves; this leaves as long again twice over for
    // a slow disk, and is still short enough for a user who started Ravolet
    // to be told why nothing came rather than left waiting.
    static constexpr std::chrono::seconds quittingPatience{15};
    enum class Call {
        // The first copy answered: it runs on and shows its window.
        answered,
        // The lock came free (the first copy ended): this instance now holds
        // it and listens, and its role is first.
        tookOver,
    };
    // The second copy: calls the first, where its lock file says it listens.
    // Where nobody answers (a copy quitting, or only just started), tries
    // again and waits for the lock, for up to `patience`, or up to
    // `quittingPatience` while the holder says it is quitting; why neither
    // came, naming the holder's process where its lock file does, on failure.
    std::expected<Call, std::string> callFirst(std::chrono::milliseconds patience = SingleInstance::patience,
                                               std::chrono::milliseconds quittingPatience = SingleInstance::quittingPatience);

private:
    SingleInstance(Role role, int lock, std::optional<std::filesystem::path> socket);
    void listen();

    Role role_;
    int lock_ = -1;
    int listening_ = -1;
    std::optional<std::filesystem::path> socket_;
};

} // namespace ravolet::platform
