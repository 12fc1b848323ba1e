#!/usr/bin/env bash
# Ravolet's Debian package as a user meets it, in a fresh Debian 12 root made
# with mmdebstrap from Debian's own packages: the minimal system, with none of
# the build's packages. There the package's dependencies come in, it installs
# with apt, its files are where the program and udev look for them, its
# program tells its version and starts as the user at the computer (on the
# simulated mouse) until its icon is in the tray, and a purge takes away every
# file it brought and leaves nothing of its own behind but the user's
# settings.
#
#   tests/install/check-package.sh PACKAGE.deb [WORK-FOLDER]
#   tests/install/check-package.sh --prepare WORK-FOLDER
#
# The second form only makes the fresh root, in the work folder, so that it
# can be made while the package is built; the first then uses it (once), or
# makes one itself. The work folder (default: package-test beside the
# package) is removed at the end.
# As root (mmdebstrap, chroot, mounts), with the network to Debian's mirror.
# The X server (Xvfb) and the tray (trayer) run on this machine and the X
# socket is shared into the root: so the root holds only Debian's minimal
# system, the package and what its dependencies pull in, and nothing the test
# brings can stand in for a library the package forgot to depend on.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
prepare=false
if [ "${1:-}" = --prepare ]; then
  prepare=true
  work="$(realpath -m "$2")"
else
  deb="$(realpath "$1")"
  work="$(realpath -m "${2:-$(dirname "$deb")/package-test}")"
fi
root="$work/root"
user=tester
home="/home/$user"

[ "$(id -u)" -eq 0 ] || { echo "check-package: run as root (mmdebstrap, chroot and mounts need it)" >&2; exit 1; }
for tool in mmdebstrap Xvfb trayer xwininfo; do
  command -v "$tool" >/dev/null || { echo "check-package: $tool is missing (scripts/packages.txt lists it)" >&2; exit 1; }
done

status=0
fail() {
  echo "check-package: FAILED: $*" >&2
  status=1
}
step() { echo "== $(date +%T) $*"; }

pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  for mount in tmp/.X11-unix proc; do
    mountpoint -q "$root/$mount" 2>/dev/null && umount -l "$root/$mount"
  done
  rm -rf "$work"
}

# Debian 12's minimal system, as Debian's mirror has it now.
make_root() {
  rm -rf "$work"
  mkdir -p "$work"
  step "a fresh Debian 12 root (mmdebstrap, minbase)"
  mmdebstrap --variant=minbase --dpkgopt=force-unsafe-io bookworm "$root" \
    "deb http://deb.debian.org/debian bookworm main" \
    "deb http://deb.debian.org/debian bookworm-updates main" \
    "deb http://deb.debian.org/debian-security bookworm-security main" >"$work/mmdebstrap.log" 2>&1 ||
    { tail -20 "$work/mmdebstrap.log" >&2; return 1; }
  touch "$work/root-made"
}
if $prepare; then
  make_root || { rm -rf "$work"; exit 1; }
  exit 0
fi
trap cleanup EXIT
if [ -e "$work/root-made" ]; then
  rm "$work/root-made"
  step "the fresh Debian 12 root made before"
else
  make_root
fi

in_root() { chroot "$root" "$@"; }
# Every path in the root but the churn of apt, dpkg, logs, caches and
# temporary files, and the mount points' contents.
files_of_root() {
  (cd "$root" && find . -xdev \( -path ./proc -o -path ./dev -o -path ./tmp -o -path ./run -o -path ./var/cache \
    -o -path ./var/log -o -path ./var/lib/apt -o -path ./var/lib/dpkg \) -prune -o -print) | sort
}

version="$(dpkg-deb -f "$deb" Version)"
mount -t proc proc "$root/proc"
in_root useradd --create-home --uid 1000 --shell /bin/bash "$user"

step "the package's dependencies, as its Depends field names them"
depends="$(dpkg-deb -f "$deb" Depends)"
in_root apt-get update -q >"$work/apt.log" 2>&1 || { tail -20 "$work/apt.log" >&2; exit 1; }
DEBIAN_FRONTEND=noninteractive in_root apt-get satisfy -y -q --no-install-recommends "$depends" >>"$work/apt.log" 2>&1 ||
  { tail -20 "$work/apt.log" >&2; exit 1; }
# None of the build's packages: what the package needs at run time must be
# in its own Depends.
mapfile -t build_packages < <(sed -n '/^Build-Depends:/,/^$/p' "$repo/debian/control" | sed 's/^Build-Depends://' |
  tr ',' '\n' | sed 's/[[:space:]]*\([a-z0-9.+-]*\).*/\1/' | grep -v '^$' | sort -u)
[ ${#build_packages[@]} -gt 10 ] || fail "could not read the Build-Depends of debian/control"
for package in "${build_packages[@]}"; do
  if in_root dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    fail "the build's package $package is installed in the root"
  fi
done
if in_root dpkg-query -W -f='${Package}\n' | grep -E -- '-dev$'; then fail "the root has development packages"; fi

before="$(files_of_root)"
packages_before="$(in_root dpkg-query -W -f='${Package}\n' | wc -l)"

step "apt install ./$(basename "$deb")"
cp "$deb" "$root/tmp/"
DEBIAN_FRONTEND=noninteractive in_root apt install -y -q --no-install-recommends "/tmp/$(basename "$deb")" \
  >"$work/install.log" 2>&1 || { cat "$work/install.log" >&2; exit 1; }
rm "$root/tmp/$(basename "$deb")"
[ "$(in_root dpkg-query -W -f='${Package}\n' | wc -l)" -eq $((packages_before + 1)) ] ||
  fail "installing the package brought other packages than its Depends had: $(grep -i 'newly installed' "$work/install.log")"
in_root dpkg-query -W -f='${Version}' ravolet | grep -qx "$version" || fail "ravolet $version is not installed"
installed="$(in_root dpkg-query -L ravolet)"

step "its files where udev, the desktop and the program look for them"
cmp -s "$repo/data/70-ravolet.rules" "$root/usr/lib/udev/rules.d/70-ravolet.rules" ||
  fail "the udev rules are not /usr/lib/udev/rules.d/70-ravolet.rules"
for file in /usr/bin/ravolet /usr/share/applications/ravolet.desktop /usr/share/icons/hicolor/scalable/apps/ravolet.svg \
  /usr/share/man/man1/ravolet.1.gz /usr/share/ravolet/kwin/ravolet-front-window.js \
  /usr/share/ravolet/gnome-shell/45-and-later/extension.js /usr/share/ravolet/gnome-shell/up-to-44/extension.js; do
  [ -s "$root$file" ] || fail "$file is not installed"
done
grep -qx 'Exec=ravolet' "$root/usr/share/applications/ravolet.desktop" || fail "the desktop entry does not start ravolet"

step "ravolet --version"
# The package's version is the program's: "0.1.0+1234" is "0.1.0 (build 1234)".
said="$(in_root setpriv --reuid "$user" --regid "$user" --init-groups env -i PATH=/usr/bin:/bin ravolet --version 2>&1)" ||
  fail "ravolet --version failed: $said"
[ "$said" = "Ravolet ${version%%+*} (build ${version#*+})" ] || fail "ravolet --version said \"$said\" of package $version"
echo "$said"

step "the installed program on the simulated mouse, as the user, until its icon is in a tray"
mkdir -p "$root/tmp/.X11-unix"
mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix"
exec {display_fd}>"$work/display"
Xvfb -displayfd "$display_fd" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
exec {display_fd}>&-
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
display=":$(cat "$work/display")"
[ "$display" != ":" ] || { cat "$work/xvfb.log" >&2; exit 1; }
DISPLAY="$display" trayer --edge top --align right --widthtype request --height 24 >"$work/trayer.log" 2>&1 &
pids+=($!)
panel=""
for _ in $(seq 100); do
  panel="$(xwininfo -display "$display" -root -tree 2>/dev/null | awk '/"panel"/ { print $1; exit }')"
  [ -n "$panel" ] && break
  sleep 0.1
done
[ -n "$panel" ] || { cat "$work/trayer.log" >&2; exit 1; }
in_root install -d -o "$user" -g "$user" -m 0700 "/tmp/runtime-$user"
# chroot, setpriv and env each run the next in their own place, so the
# process started here is the program itself.
chroot "$root" setpriv --reuid "$user" --regid "$user" --init-groups env -i PATH=/usr/bin:/bin HOME="$home" \
  USER="$user" LANG=C.UTF-8 DISPLAY="$display" XDG_RUNTIME_DIR="/tmp/runtime-$user" ravolet --simulated-mouse \
  >"$work/ravolet.log" 2>&1 &
program=$!
pids+=("$program")
docked=false
for _ in $(seq 300); do
  if xwininfo -display "$display" -id "$panel" -tree 2>/dev/null | grep -q '("ravolet" '; then
    docked=true
    break
  fi
  kill -0 "$program" 2>/dev/null || break
  sleep 0.1
done
$docked && grep -q 'Ravolet — Active' "$work/ravolet.log" || {
  fail "the installed program's icon did not come into the tray"
  cat "$work/ravolet.log" >&2
}
kill -TERM "$program" 2>/dev/null || true
ended=1
wait "$program" && ended=0 || ended=$?
if [ "$ended" -eq 0 ]; then
  $docked && echo "its icon was in the tray; it ended on SIGTERM with 0"
else
  fail "the program ended with $ended on SIGTERM"
  cat "$work/ravolet.log" >&2
fi
[ -d "$root$home/.config/ravolet" ] || fail "the program kept no settings folder in $home/.config/ravolet"

step "apt purge ravolet"
DEBIAN_FRONTEND=noninteractive in_root apt-get purge -y -q ravolet >"$work/purge.log" 2>&1 ||
  { cat "$work/purge.log" >&2; exit 1; }
in_root dpkg-query -W ravolet >/dev/null 2>&1 && fail "dpkg still knows ravolet after the purge"
compgen -G "$root/var/lib/dpkg/info/ravolet.*" >/dev/null && fail "dpkg keeps files of ravolet: $(ls "$root"/var/lib/dpkg/info/ravolet.*)"
[ -e "$root/usr/lib/udev/rules.d/70-ravolet.rules" ] && fail "the udev rules outlived the purge"
for path in $installed; do
  [ "$path" != /. ] && [ -e "$root$path" ] || continue
  grep -Fqx ".$path" <<<"$before" || fail "$path outlived the purge"
done
find "$root/run" -name '*ravolet*' | grep . && fail "the package's scripts left the above in /run"
# Nothing else changed, but the user's own files (their settings stay, as
# Debian asks).
changed="$(diff <(echo "$before") <(files_of_root) | grep '^[<>]' | grep -v "^> \.$home/" || true)"
[ -z "$changed" ] || fail "the root is not as before the package (< gone, > new):"$'\n'"$changed"
[ -d "$root$home/.config/ravolet" ] || fail "the purge took the user's settings folder"

if [ "$status" -eq 0 ]; then
  echo "check-package: $(basename "$deb") installed, ran, and left nothing behind but the user's settings"
fi
exit "$status"
