#!/usr/bin/env bash
# Builds (see build.sh), then runs the interface tests on the xcb platform in a
# virtual X display, where they also save their screenshots as PNG files in
# <build>/screenshots/. Extra arguments go to the test program (for example
# --gtest_filter=WidgetKit.*); without them the larger-text pages are also
# taken at twice the scale.
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
# Then the pages and the set-up again at twice the scale, as on a 2732x1536
# screen (the larger-text tests, half again the usual text on a dark theme);
# their pictures end in "-at-2x".
if [ "$#" -eq 0 ]; then
  QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=2 xvfb-run --auto-servernum --server-args="-screen 0 2732x1536x24" \
    "$tests" --gtest_filter='LargerTextTest.*'
fi
echo "Screenshots:"
ls -1 "$BUILD_DIR"/screenshots/*.png
