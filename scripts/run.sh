#!/usr/bin/env bash
# Builds everything (see build.sh) and starts the program on the simulated
# mouse: there is no Linux backend for the mouse or the input stream yet.
# Extra arguments go to the program.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export BUILD_DIR="${BUILD_DIR:-$root/build}"

bash "$root/scripts/build.sh"
exec "$BUILD_DIR/RavoletApp/ravolet" --simulated-mouse "$@"
