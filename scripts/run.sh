#!/usr/bin/env bash
# Builds everything (see build.sh) and starts the program: on this machine's
# mouse and input when it has /dev/uinput and input devices, else on the
# simulated mouse (as with --simulated-mouse); the first line says which.
# For the real program it first installs the udev rules file that opens the
# G502 X and /dev/uinput to the logged-in user, when it is missing or out of
# date (as root, like build.sh installs packages). Extra arguments go to the
# program.
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

# The rules file: udev reads /etc/udev/rules.d as well as the packaged rules.
install_rules() {
  local ours="$root/data/70-ravolet.rules"
  local target="/etc/udev/rules.d/70-ravolet.rules"
  [ -f "/usr/lib/udev/rules.d/70-ravolet.rules" ] && cmp -s "$ours" "/usr/lib/udev/rules.d/70-ravolet.rules" && return
  cmp -s "$ours" "$target" && return
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
      echo "Ravolet's udev rules are not installed and there is no sudo here: as root, copy $ours to $target," \
        "then run 'udevadm control --reload-rules' and re-plug the mouse." >&2
      return
    fi
    sudo="sudo"
  fi
  $sudo install -D -m 0644 "$ours" "$target"
  echo "Installed $target, which opens the G502 X and /dev/uinput to whoever is logged in at this computer."
  if command -v udevadm >/dev/null && [ -S /run/udev/control ]; then
    $sudo udevadm control --reload-rules
    # /dev/uinput is opened at once; the mouse's nodes when it is plugged in again.
    $sudo udevadm trigger --action=change --subsystem-match=misc --sysname-match=uinput
    echo "Reloaded udev. Unplug the mouse and plug it back in once, so that its nodes are opened to you."
  else
    echo "udev is not running here: the rules take effect at the next boot." >&2
  fi
}
if [ ${#simulated[@]} -eq 0 ] && [[ " $* " != *" --simulated-mouse "* ]]; then install_rules; fi

exec "$BUILD_DIR/RavoletApp/ravolet" "${simulated[@]}" "$@"
