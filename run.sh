#!/usr/bin/env bash
# Installs what is missing, builds a Release build and starts Vistrel on this X display.
set -euo pipefail
cd "$(dirname "$0")"

if [ -z "${DISPLAY:-}" ]; then
    echo "Vistrel needs an X display: DISPLAY is not set." >&2
    exit 1
fi

./scripts/install-deps.sh

build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --parallel "$(nproc)"

exec "$build/bin/vistrel" "$@"
