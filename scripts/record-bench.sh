#!/usr/bin/env bash
# Screen recording benchmark: records the same moving full-screen picture with the built
# program (driven by its hotkey; with --engine, the engine alone) and with the ffmpeg tool
# (x11grab + libx264 veryfast) and prints CPU per recorded second, frames, distinct frames,
# dropped and lagged frames, start and stop latency, peak memory, file size and SSIM against
# the screen of each, with the CPU ratio. Runs inside a private desktop session.
#
#   scripts/record-bench.sh [seconds] [--fps N] [--size WxH] [--format mp4|mkv|webm|gif]
#                           [--region WxH] [--engine]
#                      (default 20 s at 30 fps in MP4 on a 1920x1080 screen; the size may
#                       also come from VISTREL_TEST_SCREEN as WxHxDEPTH; a region lies in the
#                       middle of the screen; GIF and regions are recorded by the engine)
#
# Builds the benchmark into build/bench (or VISTREL_BENCH_BUILD_DIR) when it is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=20
usage="usage: $0 [seconds] [--fps N] [--size WxH] [--format mp4|mkv|webm|gif] [--region WxH] [--engine]"
options=()
while [ $# -gt 0 ]; do
    case "$1" in
    --size)
        [[ $# -ge 2 && "$2" =~ ^[0-9]+x[0-9]+$ ]] || { echo "$usage" >&2; exit 2; }
        export VISTREL_TEST_SCREEN="$2x24"
        shift 2
        ;;
    --engine)
        options+=("$1")
        shift
        ;;
    --fps | --format | --region)
        [ $# -ge 2 ] || { echo "$usage" >&2; exit 2; }
        options+=("$1" "$2")
        shift 2
        ;;
    *)
        seconds=$1
        shift
        ;;
    esac
done
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
    echo "$usage" >&2
    exit 2
fi

build=${VISTREL_BENCH_BUILD_DIR:-build/bench}
bench="$build/bin/record-bench"
if [ ! -x "$bench" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DVISTREL_BUILD_BENCH=ON >/dev/null
    cmake --build "$build" --target record-bench vistrel
fi

export VISTREL_TEST_SCREEN=${VISTREL_TEST_SCREEN:-1920x1080x24}
# libobs and the engine talk a lot; the table goes to stdout, their chatter to a file.
log=$(mktemp /tmp/record-bench.XXXXXX.log)
echo "record-bench: engine log in $log" >&2
exec scripts/test-env.sh "$bench" "$seconds" "${options[@]}" 2>"$log"
