#!/usr/bin/env bash
# Builds Ravolet's Debian package, ravolet_<version>+<build>_amd64.deb, from
# this checkout (its committed and its new files, as git lists them) and
# checks it with lintian. It installs what the package's build needs first
# (its Build-Depends, debhelper and lintian, with apt-get, as root or through
# sudo), as build.sh does. The version is the program's own: the project's
# (CMakeLists.txt, which debian/changelog must name too) and its build
# number, the count of commits in the history, as the Updates page and
# `ravolet --version` show them ("0.1.0 (build 1234)").
#
#   scripts/package.sh
#
# Install the package it made (as it says at the end) with
#   sudo apt install ./build-deb/ravolet_<version>_amd64.deb
#
# Environment:
#   PACKAGE_DIR   where the package and the build's other files go (default:
#                 build-deb in the checkout); the sources are copied into
#                 its src/ and built there, so the checkout stays as it is
#   RAVOLET_JOBS  how many compile jobs at once (default: one a core)
#   RAVOLET_TESTS "1" runs the package build's own tests (those that need
#                 neither a virtual machine nor a desktop; CI runs them all
#                 elsewhere), which also makes the build compile them
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="${PACKAGE_DIR:-$root/build-deb}"
jobs="${RAVOLET_JOBS:-$(nproc)}"

sudo=()
if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi
apt_updated=false
apt_install() { # apt-get arguments
  if ! $apt_updated; then
    "${sudo[@]}" apt-get update
    apt_updated=true
  fi
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get "$@"
}

tools=()
for tool in dpkg-dev debhelper lintian git; do
  dpkg-query -W -f='${Status}' "$tool" 2>/dev/null | grep -q 'install ok installed' || tools+=("$tool")
done
if [ ${#tools[@]} -gt 0 ]; then
  echo "Installing: ${tools[*]}"
  apt_install install -y --no-install-recommends "${tools[@]}"
fi

# The build number, from the whole history, unless RAVOLET_BUILD_NUMBER
# names one (a shallow clone cannot count its commits).
build_number="${RAVOLET_BUILD_NUMBER:-}"
if [ -z "$build_number" ]; then
  if [ "$(git -C "$root" rev-parse --is-shallow-repository)" = true ]; then
    echo "package: this clone is shallow, so it cannot count its commits for the build number;" \
      "run 'git fetch --unshallow' first, or set RAVOLET_BUILD_NUMBER" >&2
    exit 1
  fi
  build_number="$(git -C "$root" rev-list --count HEAD)"
fi
version="$(sed -n 's/^project(Ravolet VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"

# A copy of the sources, so that the build's by-products (debian/ravolet/,
# obj-*/, and the files dpkg-buildpackage writes beside the source folder)
# all land under $out.
src="$out/src/ravolet-$version"
rm -rf "$out/src"
mkdir -p "$src"
(cd "$root" && git ls-files -z --cached --others --exclude-standard |
  while IFS= read -r -d '' file; do [ -e "$file" ] && printf '%s\0' "$file"; done |
  tar --null --files-from=- -cf -) | tar -C "$src" -xf -

profiles=(-Pnocheck)
options="nocheck parallel=$jobs"
if [ "${RAVOLET_TESTS:-}" = 1 ]; then
  profiles=()
  options="parallel=$jobs"
fi
if ! (cd "$src" && dpkg-checkbuilddeps "${profiles[@]}" 2>/dev/null); then
  echo "Installing the package's build dependencies"
  (cd "$src" && apt_install build-dep -y --no-install-recommends "${profiles[@]}" ./)
fi

# A compiler cache, where the machine has one (as build.sh uses it). debhelper
# gives the build a home folder of its own, so the cache's folder is named.
if [ -d /usr/lib/ccache ]; then
  export PATH="/usr/lib/ccache:$PATH"
  CCACHE_DIR="${CCACHE_DIR:-$(ccache -k cache_dir)}"
  export CCACHE_DIR CCACHE_BASEDIR="${CCACHE_BASEDIR:-$out/src}" CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-1}"
fi

rm -f "$out"/ravolet_* "$out"/ravolet-dbgsym_*
(cd "$src" && DEB_BUILD_OPTIONS="$options" RAVOLET_BUILD_NUMBER="$build_number" \
  dpkg-buildpackage --no-sign "${profiles[@]}")
mv "$out"/src/ravolet_* "$out"/src/ravolet-dbgsym_* "$out"/
rm -rf "$out/src"

changes="$(ls "$out"/ravolet_*_"$(dpkg --print-architecture)".changes)"
deb="$(ls "$out/ravolet_${version}+${build_number}_$(dpkg --print-architecture).deb")"
echo "== lintian"
lintian --fail-on error --display-info --tag-display-limit 0 "$changes"
echo "Built $deb"
echo "Install it with: sudo apt install $deb"
