#!/usr/bin/env bash
# Builds everything and starts the program.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export BUILD_DIR="${BUILD_DIR:-$root/build}"

bash "$root/scripts/build.sh"
if [ -x "$BUILD_DIR/RavoletApp/ravolet" ]; then
  exec "$BUILD_DIR/RavoletApp/ravolet" "$@"
fi
echo "Built the libraries, tests and benchmarks in $BUILD_DIR; the ravolet application itself is not there yet."
