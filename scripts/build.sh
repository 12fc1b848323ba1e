#!/usr/bin/env bash
# Installs what is missing, configures and builds.
#   BUILD_DIR         where to build (default: build, build-<sanitizer>,
#                     build-clang or build-clang-<sanitizer>)
#   RAVOLET_SANITIZE  "" (default), asan (Address + UndefinedBehavior) or tsan
#   RAVOLET_COMPILER  "" (default: the system's c++, g++) or clang (clang++-16)
#   RAVOLET_JOBS      how many compile jobs at once (default: one a core)
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
# A compiler cache, where the machine has one, makes rebuilds in other
# checkouts of the same sources cheap; nothing needs it.
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$(dirname "$root")}"
  # The build carries debug information, for which ccache would otherwise
  # hash the build folder's own path, and no other checkout would ever hit.
  export CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-1}"
fi
cmake -S "$root" -B "$build_dir" -G Ninja -DRAVOLET_SANITIZE="$sanitize" "${compiler_args[@]}" "${launcher[@]}" ${RAVOLET_CMAKE_ARGS:-} >/dev/null
cmake --build "$build_dir" --parallel "${RAVOLET_JOBS:-$(nproc)}"
