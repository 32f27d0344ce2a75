#!/usr/bin/env bash
# Usage: scripts/build-deb.sh [BUILD_DIR]   (default build/release)
# Builds the Debian package vistrel_<version>_<arch>.deb in BUILD_DIR from the build there
# (configured as a Release build first when BUILD_DIR has none), checks it with lintian and
# prints its path. Fails when the build fails or lintian reports an error.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/release}
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --parallel "$(nproc)" >/dev/null

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
deb="$build/vistrel_${version}_$(dpkg --print-architecture).deb"
rm -f "$deb"
(cd "$build" && cpack -G DEB >/dev/null)
test -f "$deb"

# As root, lintian says so on stderr; that is no finding about the package.
lintian --fail-on error "$deb" 2> >(grep -v 'running with root privileges' >&2)
echo "$deb"
