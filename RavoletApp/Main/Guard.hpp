#pragma once

#include <string_view>

// The program's guard: a small process of its own that the program starts at
// launch, which waits for the program to end, however it ends (a crash, kill
// -9, SIGKILL at logout), and then puts back what the program had changed
// and not put back itself: first the mouse's wheel, in the mode Ravolet
// found it in (kept in wheel-mode.json), then the desktop's pointer setting
// (from the capture file; see pointerTuningGuard). Never over a run of the
// program that has started since: that run takes both over. While it waits
// it says nothing and holds no node of the mouse and no lock.
namespace ravolet::guard {

// The hidden option that makes the process the guard; the watched process's
// id follows it.
inline constexpr std::string_view option = "--pointer-guard";

// Starts the guard of this process; false when it could not be started.
bool start();

// The guard's work, in its own process, given the watched process's id as
// text. Returns the process's exit status.
int run(std::string_view watched);

} // namespace ravolet::guard
