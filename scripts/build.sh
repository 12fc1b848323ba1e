#!/usr/bin/env bash
# Installs what is missing, configures and builds.
#   BUILD_DIR         where to build (default: build, build-<sanitizer>,
#                     build-clang or build-clang-<sanitizer>)
#   RAVOLET_SANITIZE  "" (default), asan (Address + UndefinedBehavior) or tsan
#   RAVOLET_COMPILER  "" (default: the system's c++, g++) or clang (clang++-16)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
sanitize="${RAVOLET_SANITIZE:-}"
compiler="${RAVOLET_COMPILER:-}"
case "$compiler" in
  "") compiler_args=() ;;
  clang) compiler_args=(-DCMAKE_CXX_COMPILER=clang++-16) ;;
  *) echo "RAVOLET_COMPILER must be empty or clang" >&2; exit 1 ;;
esac
build_dir="${BUILD_DIR:-$root/build${compiler:+-$compiler}${sanitize:+-$sanitize}}"

bash "$root/scripts/setup.sh"
cmake -S "$root" -B "$build_dir" -G Ninja -DRAVOLET_SANITIZE="$sanitize" "${compiler_args[@]}" ${RAVOLET_CMAKE_ARGS:-} >/dev/null
cmake --build "$build_dir" --parallel "$(nproc)"
