#!/usr/bin/env bash
# Builds (see build.sh), then runs the interface tests on the xcb platform in a
# virtual X display, where they also save their screenshots as PNG files in
# <build>/screenshots/. Extra arguments go to the test program (for example
# --gtest_filter=WidgetKit.*).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export BUILD_DIR="${BUILD_DIR:-$root/build}"

bash "$root/scripts/build.sh"
tests="$BUILD_DIR/tests/ui/RavoletAppUITests"
if [ ! -x "$tests" ]; then
  echo "No interface tests in $BUILD_DIR (they are not built under ThreadSanitizer)." >&2
  exit 1
fi
rm -rf "$BUILD_DIR/screenshots"
QT_QPA_PLATFORM=xcb xvfb-run --auto-servernum --server-args="-screen 0 1280x1024x24" "$tests" "$@"
echo "Screenshots:"
ls -1 "$BUILD_DIR"/screenshots/*.png
