#!/usr/bin/env bash
# Sound against picture over a long recording: the engine records the whole screen to MP4
# while a sync source flashes the screen and beeps once a second; afterwards every flash is
# paired with its beep. Prints the recorder's memory (peak and current) every minute and the
# offset of the sound from the picture at the start and at the end. Runs inside a private
# desktop session without compositing manager.
#
#   scripts/av-sync-bench.sh [minutes]      (default 60; screen VISTREL_TEST_SCREEN,
#                                            default 1920x1080x24)
#
# Builds what it needs into build/bench (or VISTREL_BENCH_BUILD_DIR) when it is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

minutes=${1:-60}
if ! [[ "$minutes" =~ ^[0-9]+$ ]] || [ "$minutes" -lt 1 ]; then
    echo "usage: $0 [minutes]" >&2
    exit 2
fi

build=${VISTREL_BENCH_BUILD_DIR:-build/bench}
bin="$(pwd)/$build/bin"
if [ ! -x "$bin/reliability-recorder" ] || [ ! -x "$bin/av-sync-source" ] \
    || [ ! -x "$bin/av-sync-check" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DVISTREL_BUILD_TESTS=ON -DVISTREL_BUILD_BENCH=ON >/dev/null
    cmake --build "$build" --target reliability-recorder av-sync-source av-sync-check
fi

export VISTREL_TEST_SCREEN=${VISTREL_TEST_SCREEN:-1920x1080x24}
export AV_SYNC_BIN="$bin" AV_SYNC_SECONDS=$((minutes * 60))
exec scripts/test-env.sh --no-compositor bash -c '
    set -euo pipefail
    dir=$(mktemp -d /tmp/av-sync-bench.XXXXXX)
    # libobs talks a lot: its chatter goes to a file beside the recording.
    "$AV_SYNC_BIN/reliability-recorder" "$dir" $((AV_SYNC_SECONDS + 3)) mp4 \
        >"$dir/recorder.out" 2>"$dir/recorder.log" &
    recorder=$!
    until grep -q recording "$dir/recorder.out"; do
        kill -0 "$recorder" 2>/dev/null || { echo "the recorder did not start" >&2; exit 1; }
        sleep 0.1
    done
    "$AV_SYNC_BIN/av-sync-source" "$AV_SYNC_SECONDS" >"$dir/source.out" &
    source=$!
    minute=0
    while kill -0 "$source" 2>/dev/null; do
        sleep 60 & wait $! || true
        minute=$((minute + 1))
        kill -0 "$recorder" 2>/dev/null || break
        awk -v m="$minute" "/VmHWM|VmRSS/ { v[\$1] = \$2 }
            END { printf \"minute %3d: recorder memory peak %d MiB, now %d MiB\n\", m,
                  v[\"VmHWM:\"] / 1024, v[\"VmRSS:\"] / 1024 }" "/proc/$recorder/status"
    done
    wait "$source"
    wait "$recorder"
    echo "recording: $dir/mp4.mp4 ($(du -h "$dir/mp4.mp4" | cut -f1))"
    grep -h "audio buffering" "$dir/recorder.out" "$dir/recorder.log" | tail -3 || true
    "$AV_SYNC_BIN/av-sync-check" "$dir/mp4.mp4" >"$dir/offsets.txt"
    head -n 3 "$dir/offsets.txt"
    echo "..."
    grep "^minutes" "$dir/offsets.txt" || true
    tail -n 1 "$dir/offsets.txt"
'
