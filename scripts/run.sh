#!/usr/bin/env bash
# Builds everything (see build.sh) and starts the program: on this machine's
# mouse and input when it has /dev/uinput and input devices, else on the
# simulated mouse (as with --simulated-mouse); the first line says which.
# For the real program it first installs the udev rules file that opens the
# G502 X and /dev/uinput to the logged-in user, when it is missing or out of
# date, and applies it to the nodes still closed, a mouse already plugged in
# included (scripts/apply-udev-rules.sh; as root, like build.sh installs
# packages). Extra arguments go to the program.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export BUILD_DIR="${BUILD_DIR:-$root/build}"

simulated=()
if [[ " $* " == *" --simulated-mouse "* ]]; then
  echo "Starting Ravolet on the simulated mouse, as asked."
elif [ -e /dev/uinput ] && compgen -G '/dev/input/event*' >/dev/null; then
  echo "Starting Ravolet on this computer's mouse and input devices (/dev/uinput and /dev/input are here)."
else
  echo "Starting Ravolet on the simulated mouse: this machine has no /dev/uinput or no input devices."
  simulated=(--simulated-mouse)
fi

bash "$root/scripts/build.sh"

# The rules file, installed and applied to the mouse plugged in now.
if [ ${#simulated[@]} -eq 0 ] && [[ " $* " != *" --simulated-mouse "* ]]; then bash "$root/scripts/apply-udev-rules.sh"; fi

exec "$BUILD_DIR/RavoletApp/ravolet" "${simulated[@]}" "$@"
