#!/usr/bin/env bash
# Screen recording benchmark: records the same moving full-screen picture with Vistrel's
# engine and with the ffmpeg tool (x11grab + libx264 veryfast) and prints CPU per recorded
# second, frames, distinct frames, dropped and lagged frames, start and stop latency and
# peak memory of each, with the CPU ratio. Runs inside a private desktop session.
#
#   scripts/record-bench.sh [seconds]      (default 20; screen VISTREL_TEST_SCREEN,
#                                           default 1920x1080x24)
#
# Builds the benchmark into build/bench (or VISTREL_BENCH_BUILD_DIR) when it is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-20}
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
    echo "usage: $0 [seconds]" >&2
    exit 2
fi

build=${VISTREL_BENCH_BUILD_DIR:-build/bench}
bench="$build/bin/record-bench"
if [ ! -x "$bench" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DVISTREL_BUILD_BENCH=ON >/dev/null
    cmake --build "$build" --target record-bench
fi

export VISTREL_TEST_SCREEN=${VISTREL_TEST_SCREEN:-1920x1080x24}
# libobs and the engine talk a lot; the table goes to stdout, their chatter to a file.
log=$(mktemp /tmp/record-bench.XXXXXX.log)
echo "record-bench: engine log in $log" >&2
exec scripts/test-env.sh "$bench" "$seconds" 2>"$log"
