#!/usr/bin/env bash
# Installs the build into a staging folder with "cmake --install" and checks
# that the program, its desktop entry, its icon and its udev rules file land
# in their places under the prefix, and that the entry starts the program and
# names the icon.
set -euo pipefail
build="$1"
staged="$2"
rm -rf "$staged"
cmake --install "$build" --prefix "$staged" >/dev/null

status=0
for file in bin/ravolet share/applications/ravolet.desktop share/icons/hicolor/scalable/apps/ravolet.svg \
  lib/udev/rules.d/70-ravolet.rules; do
  if [ ! -s "$staged/$file" ]; then
    echo "missing after installing: $file" >&2
    status=1
  fi
done
[ -x "$staged/bin/ravolet" ] || { echo "bin/ravolet is not executable" >&2; status=1; }
entry="$staged/share/applications/ravolet.desktop"
if [ -f "$entry" ]; then
  grep -qx 'Exec=ravolet' "$entry" || { echo "the desktop entry does not start ravolet" >&2; status=1; }
  grep -qx 'Icon=ravolet' "$entry" || { echo "the desktop entry does not name the icon" >&2; status=1; }
  if command -v desktop-file-validate >/dev/null; then desktop-file-validate "$entry" || status=1; fi
fi
exit $status
