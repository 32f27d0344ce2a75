#!/usr/bin/env bash
# Start-up time of the real program: starts it N times (default 10) in a private desktop
# session, each with a fresh home, and prints the median, fastest and slowest time from
# process start to the main window's first picture and to the engine being ready for a
# recording. The times are the program's own log lines, counted from the kernel's start
# time of the process (10 ms resolution).
#
#   scripts/start-bench.sh [BUILD_DIR] [runs]    (default build/test, 10 runs)
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${VISTREL_START_INSIDE:-}" != 1 ]; then
    build=${1:-build/test}
    if [ ! -x "$build/bin/vistrel" ]; then
        echo "start-bench: $build/bin/vistrel is missing; build it first (./test.sh or ./run.sh)" >&2
        exit 1
    fi
    export VISTREL_START_INSIDE=1
    exec scripts/test-env.sh "$0" "$@"
fi

build=${1:-build/test}
runs=${2:-10}
pid=
home=
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    [ -n "$home" ] && rm -rf "$home"
    return 0
}
trap cleanup EXIT

# ms after the process started, from the last log line naming the event
figure() { grep -h -F "$1" "$home"/data/Ombrant/Vistrel/logs/*.log 2>/dev/null \
    | sed -n 's/.* \([0-9-]*\) ms after the process started.*/\1/p' | tail -1; }

shown=()
ready=()
for run in $(seq "$runs"); do
    home=$(mktemp -d /tmp/vistrel-start.XXXXXX)
    mkdir -p "$home/config/Ombrant"
    printf '[general]\nfirstRun=false\n' >"$home/config/Ombrant/Vistrel.conf"
    HOME=$home XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data \
        "$build/bin/vistrel" >"$home/stdout.log" 2>&1 &
    pid=$!
    for _ in $(seq 300); do
        [ -n "$(figure "Engine ready")" ] && break
        kill -0 "$pid" 2>/dev/null || { echo "start-bench: the program ended" >&2; exit 1; }
        sleep 0.1
    done
    s=$(figure "Main window shown")
    r=$(figure "Engine ready")
    if [ -z "$s" ] || [ -z "$r" ]; then
        echo "start-bench: run $run did not report its start-up in 30 s" >&2
        exit 1
    fi
    shown+=("$s")
    ready+=("$r")
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    pid=
    rm -rf "$home"
    home=
done

stats() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END {
    m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
    printf "%8d %8d %8d", m, v[1], v[NR] }'; }

echo
echo "$runs starts, screen ${VISTREL_TEST_SCREEN:-1920x1080x24}, load average $(cut -d' ' -f1-3 /proc/loadavg)"
printf "%-40s %8s %8s %8s\n" "ms after the process started" "median" "fastest" "slowest"
printf "%-40s %s\n" "main window shown" "$(stats "${shown[@]}")"
printf "%-40s %s\n" "engine ready for a recording" "$(stats "${ready[@]}")"
