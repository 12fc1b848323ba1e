#!/usr/bin/env bash
# Builds (see build.sh) and runs every test. Extra arguments go to ctest.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
sanitize="${RAVOLET_SANITIZE:-}"
compiler="${RAVOLET_COMPILER:-}"
export BUILD_DIR="${BUILD_DIR:-$root/build${compiler:+-$compiler}${sanitize:+-$sanitize}}"

bash "$root/scripts/build.sh"
cd "$BUILD_DIR"
ctest --output-on-failure --parallel "$(nproc)" --timeout 600 "$@"
