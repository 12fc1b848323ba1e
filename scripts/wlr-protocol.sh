#!/usr/bin/env bash
# Puts the wlroots foreign-toplevel protocol's XML into the folder given.
# Debian ships it only inside librust-wayland-protocols-dev, whose install
# would pull in dozens of Rust packages: the package is downloaded and
# unpacked instead (unless it is installed), and no copy is kept in the
# sources.
set -euo pipefail
dest="$1"
name=wlr-foreign-toplevel-management-unstable-v1.xml
package=librust-wayland-protocols-dev
[ -f "$dest/$name" ] && exit 0
mkdir -p "$dest"
pick() { { ls "$1"/usr/share/cargo/registry/wayland-protocols-*/wlr-protocols/unstable/"$name" 2>/dev/null || true; } | sort -V | tail -n 1; }
found="$(pick "")"
if [ -z "$found" ]; then
  work="$(mktemp -d)"
  trap 'rm -rf "$work"' EXIT
  if ! (cd "$work" && apt-get download "$package" >/dev/null 2>&1); then
    # The package lists may be missing or older than the mirror.
    sudo=""
    if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
    $sudo apt-get update >/dev/null
    (cd "$work" && apt-get download "$package" >/dev/null)
  fi
  dpkg-deb -x "$work"/"$package"_*.deb "$work/unpacked"
  found="$(pick "$work/unpacked")"
fi
if [ -z "$found" ]; then
  echo "$package holds no $name" >&2
  exit 1
fi
cp "$found" "$dest/$name"
