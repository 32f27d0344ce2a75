#!/usr/bin/env bash
# What the open program costs when it is not recording: starts the real program in a private
# desktop session with a fresh home, and prints processor use (cores, averaged over the
# phase) and resident memory for: idle with the window open, the countdown, a recording of a
# still screen, after the recording with the window open, and minimized.
#
#   scripts/idle-bench.sh [BUILD_DIR] [seconds]    (default build/test, 20 s per phase)
#
# Phases end on the program's own log lines, not on guesses. VISTREL_IDLE_FORMAT picks the
# recording format (default MP4), VISTREL_IDLE_MODE=region records a 960x540 region.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${VISTREL_IDLE_INSIDE:-}" != 1 ]; then
    build=${1:-build/test}
    if [ ! -x "$build/bin/vistrel" ]; then
        echo "idle-bench: $build/bin/vistrel is missing; build it first (./test.sh or ./run.sh)" >&2
        exit 1
    fi
    export VISTREL_IDLE_INSIDE=1
    exec scripts/test-env.sh --no-compositor "$0" "$@"
fi

build=${1:-build/test}
seconds=${2:-20}
format=${VISTREL_IDLE_FORMAT:-MP4}
home=$(mktemp -d /tmp/vistrel-idle.XXXXXX)
trap 'kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; rm -rf "$home"' EXIT
mkdir -p "$home/config/Ombrant"
cat >"$home/config/Ombrant/Vistrel.conf" <<EOF
[general]
firstRun=false
[recording]
format=$format
screenSwitch=$([ "$format" = MP3 ] || [ "$format" = AAC ] || [ "$format" = FLAC ] && echo false || echo true)
EOF

HOME=$home XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data \
    "$build/bin/vistrel" >"$home/stdout.log" 2>&1 &
pid=$!
ticks=$(getconf CLK_TCK)

logtext() { cat "$home"/data/Ombrant/Vistrel/logs/*.log 2>/dev/null || true; }
wait_log() { # text, seconds, [count before]
    local before=${3:-0}
    for _ in $(seq $(($2 * 10))); do
        [ "$(logtext | grep -c -F "$1")" -gt "$before" ] && return 0
        kill -0 "$pid" 2>/dev/null || { echo "idle-bench: the program ended" >&2; exit 1; }
        sleep 0.1
    done
    echo "idle-bench: no \"$1\" in the log after $2 s" >&2
    exit 1
}
cpu_ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
rss_mb() { awk '/^VmRSS/ {printf "%d", $2 / 1024}' "/proc/$pid/status"; }
rows=()
measure() { # label, seconds
    local t0 c0 t1 c1
    t0=$(date +%s.%N)
    c0=$(cpu_ticks)
    sleep "$2"
    c1=$(cpu_ticks)
    t1=$(date +%s.%N)
    rows+=("$(awk -v l="$1" -v c="$((c1 - c0))" -v hz="$ticks" -v a="$t0" -v b="$t1" \
        -v r="$(rss_mb)" 'BEGIN { printf "%-52s %8.3f %8d\n", l, c / hz / (b - a), r }')")
}

wait_log "OBS initialized successfully" 60
sleep 2
if [ "${VISTREL_IDLE_MODE:-full}" = region ]; then
    # The region frame is part of the idle state to measure.
    xdotool key --clearmodifiers Escape >/dev/null 2>&1 || true
fi
measure "idle, window open, nothing recorded yet" "$seconds"

started=$(logtext | grep -c -F "Recording started..." || true)
xdotool key F9
measure "countdown" 2
wait_log "Recording started..." 20 "$started"
measure "recording $format of a still screen" "$seconds"

stopped=$(logtext | grep -c -F "Recording stopped:" || true)
xdotool key F9
wait_log "Recording stopped:" 20 "$stopped"
sleep 5
rows+=("$(printf "%-52s %8s %8d" "5 s after the stop" "" "$(rss_mb)")")
measure "after the recording, window open" "$seconds"

for w in $(xdotool search --onlyvisible --pid "$pid" 2>/dev/null); do
    xdotool windowminimize "$w" 2>/dev/null || true
done
sleep 1
measure "after the recording, window minimized" "$seconds"

echo
printf "%-52s %8s %8s\n" "state (screen ${VISTREL_TEST_SCREEN:-1920x1080x24})" "cores" "RSS MB"
printf "%s\n" "${rows[@]}"
