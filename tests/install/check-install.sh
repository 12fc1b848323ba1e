#!/usr/bin/env bash
# Installs the build into a staging folder with "cmake --install" and checks
# that the program, its manual page, its desktop entry, its icon and its udev
# rules file land in their places under the prefix, that the entry starts the
# program and names the icon, and that the installed program tells its
# version as the Updates page does.
#
#   check-install.sh BUILD-DIR STAGING-DIR VERSION BUILD-NUMBER
set -euo pipefail
build="$1"
staged="$2"
version="$3"
build_number="$4"
rm -rf "$staged"
cmake --install "$build" --prefix "$staged" >/dev/null

status=0
for file in bin/ravolet share/man/man1/ravolet.1 share/applications/ravolet.desktop share/icons/hicolor/scalable/apps/ravolet.svg \
  lib/udev/rules.d/70-ravolet.rules; do
  if [ ! -s "$staged/$file" ]; then
    echo "missing after installing: $file" >&2
    status=1
  fi
done
[ -x "$staged/bin/ravolet" ] || { echo "bin/ravolet is not executable" >&2; status=1; }
said="$(env -u DISPLAY -u WAYLAND_DISPLAY "$staged/bin/ravolet" --version 2>&1)" || true
if [ "$said" != "Ravolet $version (build $build_number)" ]; then
  echo "ravolet --version said \"$said\", not \"Ravolet $version (build $build_number)\"" >&2
  status=1
fi
entry="$staged/share/applications/ravolet.desktop"
if [ -f "$entry" ]; then
  grep -qx 'Exec=ravolet' "$entry" || { echo "the desktop entry does not start ravolet" >&2; status=1; }
  grep -qx 'Icon=ravolet' "$entry" || { echo "the desktop entry does not name the icon" >&2; status=1; }
  if command -v desktop-file-validate >/dev/null; then desktop-file-validate "$entry" || status=1; fi
fi
exit $status
