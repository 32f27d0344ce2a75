#!/usr/bin/env bash
# Screen recording benchmark: records the same moving full-screen picture with the built
# program (driven by its hotkey; with --engine, the engine alone) and with the ffmpeg tool
# (x11grab + libx264 veryfast) and prints CPU per recorded second, frames, distinct frames,
# dropped and lagged frames, start and stop latency, peak memory, file size and SSIM against
# the screen of each, with the CPU ratio. Runs inside a private desktop session.
#
#   scripts/record-bench.sh [seconds] [--fps N] [--size WxH] [--format mp4|mkv|webm|gif]
#                           [--region WxH] [--engine]
#   scripts/record-bench.sh --wayland [seconds] [--fps N] [--size WxH]
#                      (the built program recording the same moving pattern in a headless
#                       Wayland session through the desktop portal and PipeWire, against the
#                       same program reading the X screen in an X11 session)
#                      (default 20 s at 30 fps in MP4 on a 1920x1080 screen; the size may
#                       also come from VISTREL_TEST_SCREEN as WxHxDEPTH; a region lies in the
#                       middle of the screen; GIF and regions are recorded by the engine)
#
# Builds the benchmark into build/bench (or VISTREL_BENCH_BUILD_DIR) when it is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=20
usage="usage: $0 [--wayland] [seconds] [--fps N] [--size WxH] [--format mp4|mkv|webm|gif] [--region WxH] [--engine]"
options=()
wayland=0
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
    --wayland)
        wayland=1
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
if [ "$wayland" = 0 ]; then
    exec scripts/test-env.sh "$bench" "$seconds" "${options[@]}" 2>"$log"
fi

# Both sessions show the portal test stream's moving ball: in the X11 session played in a
# borderless window over the whole screen, in the Wayland session as the shared screen itself.
figures=$(mktemp -d /tmp/record-bench-figures.XXXXXX)
trap 'rm -rf "$figures"' EXIT
screen=${VISTREL_TEST_SCREEN%x*}
fps=30
for ((i = 0; i < ${#options[@]}; i++)); do
    if [ "${options[i]}" = --fps ]; then fps=${options[i + 1]}; fi
done
pattern="videotestsrc is-live=true pattern=ball ! video/x-raw,format=BGRx,width=${screen%x*},height=${screen#*x},framerate=$fps/1"
x11_run="gst-launch-1.0 -q $pattern ! fdsink | ffplay -loglevel error -an -noborder -left 0 -top 0 \\
        -window_title vistrel-bench-pattern -f rawvideo -pixel_format bgr0 \\
        -video_size $screen -framerate $fps -i - & player=\$!;
    timeout 20 xdotool search --sync --name vistrel-bench-pattern >/dev/null || exit 1;
    \"$bench\" $seconds ${options[*]} --program-only $figures/x11.json --label X11; status=\$?;
    kill \$player; exit \$status"
scripts/test-env.sh bash -c "$x11_run" 2>>"$log" || true
VISTREL_WAYLAND_XWAYLAND=1 VISTREL_WAYLAND_PATTERN=ball \
    scripts/test-env.sh --wayland "$bench" "$seconds" "${options[@]}" \
    --program-only "$figures/wayland.json" --label Wayland 2>>"$log" || true
echo
QT_QPA_PLATFORM=offscreen "$bench" --table "$figures/wayland.json" "$figures/x11.json"
