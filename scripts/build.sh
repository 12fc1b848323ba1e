#!/usr/bin/env bash
# Installs what is missing, configures and builds.
#   BUILD_DIR         where to build (default: build, or build-<sanitizer>)
#   RAVOLET_SANITIZE  "" (default), asan (Address + UndefinedBehavior) or tsan
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
sanitize="${RAVOLET_SANITIZE:-}"
build_dir="${BUILD_DIR:-$root/build${sanitize:+-$sanitize}}"

bash "$root/scripts/setup.sh"
cmake -S "$root" -B "$build_dir" -G Ninja -DRAVOLET_SANITIZE="$sanitize" ${RAVOLET_CMAKE_ARGS:-} >/dev/null
cmake --build "$build_dir" --parallel "$(nproc)"
