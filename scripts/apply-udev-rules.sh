#!/usr/bin/env bash
# Installs Ravolet's udev rules file (data/70-ravolet.rules) where udev reads
# it, when it is missing there or out of date, and applies it at once to the
# nodes Ravolet opens (all of them after installing it, else those still
# closed to the user running this): the G502 X's HID++ hidraw node and
# pointer event nodes, and /dev/uinput. A mouse already plugged in is thus
# opened without a re-plug. As root through
# sudo where it must change something (as build.sh installs packages).
#
#   scripts/apply-udev-rules.sh
#
# Environment (for the kernel tests, which run it as root in their VM):
#   RAVOLET_SYSFS  where sysfs is (default /sys)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
ours="$root/data/70-ravolet.rules"
target="/etc/udev/rules.d/70-ravolet.rules"
sys="${RAVOLET_SYSFS:-/sys}"

sudo=()
as_root() {
  if [ "$(id -u)" -ne 0 ] && [ ${#sudo[@]} -eq 0 ]; then
    if ! command -v sudo >/dev/null; then
      echo "Ravolet's udev rules need root and there is no sudo here: as root, copy $ours to $target," \
        "then run 'udevadm control --reload-rules' and re-plug the mouse." >&2
      return 1
    fi
    sudo=(sudo)
  fi
  "${sudo[@]}" "$@"
}

# The nodes the rules open, as they are now: the mouse's HID++ interface
# (interface 1) and its pointer (interface 0), found as the rules find them.
mouse_nodes() {
  local node uevent
  for node in "$sys"/class/hidraw/hidraw*; do
    uevent="$node/device/uevent"
    [ -r "$uevent" ] || continue
    grep -qx 'HID_ID=0003:0000046D:0000C099' "$uevent" && grep -q '^HID_PHYS=.*/input1$' "$uevent" &&
      echo "/dev/$(basename "$node")"
  done
  for node in "$sys"/class/input/event*; do
    [ "$(cat "$node/device/id/vendor" 2>/dev/null)" = 046d ] || continue
    [ "$(cat "$node/device/id/product" 2>/dev/null)" = c099 ] || continue
    case "$(cat "$node/device/phys" 2>/dev/null)" in */input0) echo "/dev/input/$(basename "$node")" ;; esac
  done
}

installed=0
if ! { [ -f "/usr/lib/udev/rules.d/70-ravolet.rules" ] && cmp -s "$ours" "/usr/lib/udev/rules.d/70-ravolet.rules"; } &&
  ! cmp -s "$ours" "$target" 2>/dev/null; then
  as_root install -D -m 0644 "$ours" "$target" || exit 0
  echo "Installed $target, which opens the G502 X and /dev/uinput to whoever is logged in at this computer."
  installed=1
fi

if ! command -v udevadm >/dev/null || [ ! -S /run/udev/control ]; then
  [ $installed -eq 0 ] || echo "udev is not running here: the rules take effect at the next boot." >&2
  exit 0
fi
# The nodes to apply it to: all of them after an installation, else those
# still closed to whoever runs this.
apply=()
if [ -e /dev/uinput ] && { [ $installed -eq 1 ] || [ ! -w /dev/uinput ]; }; then apply+=(/dev/uinput); fi
for node in $(mouse_nodes); do
  if [ $installed -eq 1 ]; then
    apply+=("$node")
  elif [[ $node == /dev/hidraw* ]]; then
    { [ -r "$node" ] && [ -w "$node" ]; } || apply+=("$node")
  else
    [ -r "$node" ] || apply+=("$node")
  fi
done
if [ $installed -eq 1 ] || [ ${#apply[@]} -gt 0 ]; then
  as_root udevadm control --reload-rules || exit 0
fi
if [ ${#apply[@]} -gt 0 ]; then
  as_root udevadm trigger --action=change "${apply[@]}" || exit 0
  as_root udevadm settle || true
  echo "Applied the rules to ${apply[*]}."
fi
