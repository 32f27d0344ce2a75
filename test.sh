#!/usr/bin/env bash
# Installs what is missing, builds with tests, and runs the whole suite inside a private
# desktop session (see scripts/test-env.sh). Exit status: the suite's.
set -euo pipefail
cd "$(dirname "$0")"

./scripts/install-deps.sh

build=build/test
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVISTREL_BUILD_TESTS=ON -DVISTREL_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --parallel "$(nproc)"

cd "$build"
exec ../../scripts/test-env.sh ctest --output-on-failure --timeout 600 "$@"
