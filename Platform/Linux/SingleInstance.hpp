#pragma once

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
// through that socket, which then brings its settings window forward.
//
// The socket lives in $XDG_RUNTIME_DIR, named after the settings folder, else
// in the settings folder itself. Only calls from the same user count.
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
    // is an absolute path, else in the settings folder; none where neither
    // path fits in a socket address.
    static std::optional<std::filesystem::path> socketPath(const std::filesystem::path& settingsFolder,
                                                           const std::optional<std::string>& runtimeFolder);

    // The first copy: a descriptor that becomes readable when a later copy
    // calls (-1 without a socket), and the calls waiting there, taken and
    // counted.
    int callDescriptor() const { return listening_; }
    int takeCalls();

    // The second copy: calls the first, waiting a little for it to listen
    // when it has only just started. Why it could not, on failure.
    std::expected<void, std::string> callFirst() const;

private:
    SingleInstance(Role role, int lock, std::optional<std::filesystem::path> socket);
    void listen();

    Role role_;
    int lock_ = -1;
    int listening_ = -1;
    std::optional<std::filesystem::path> socket_;
};

} // namespace ravolet::platform
