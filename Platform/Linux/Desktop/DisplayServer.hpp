#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace ravolet::platform {

// The process that serves this session's display: the Wayland compositor,
// else the X server, the environment names (WAYLAND_DISPLAY, DISPLAY), else
// sway by its IPC socket (SWAYSOCK), for a program drawn nowhere. The
// desktop's settings live as long as it runs: stopped, it still runs and will
// answer again; once it has ended, the session is over. Found by connecting
// to its socket and asking the kernel who listens there.
class DisplayServer {
public:
    // None when no display is named, or none of those named listens.
    static std::optional<DisplayServer> ofThisSession();
    // Whoever listens on the Unix socket `socket` ("@name" for a name of the
    // abstract namespace); none when nobody does.
    static std::optional<DisplayServer> listeningAt(const std::string& socket);

    DisplayServer(DisplayServer&& other) noexcept;
    DisplayServer& operator=(DisplayServer&& other) noexcept;
    ~DisplayServer();

    pid_t pid() const { return pid_; }
    // Whether it has not ended (a stopped process runs still). Never waits.
    bool isRunning() const;

private:
    DisplayServer(pid_t pid, int descriptor) : pid_(pid), descriptor_(descriptor) {}
    pid_t pid_;
    // Readable once the process has ended (a pidfd); -1 where the kernel gives none.
    int descriptor_;
};

} // namespace ravolet::platform
