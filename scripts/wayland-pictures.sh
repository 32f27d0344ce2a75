#!/usr/bin/env bash
# Takes the README's Wayland pictures with the compositor's own screenshot tool (grim): the
# program in the headless Wayland session (scripts/wayland-session.sh, XWayland on, the cast
# showing the compositor's picture), its main window, the area selector on the desktop's
# still picture, and a region recording with its frame and pen strokes. PNGs in docs/images/.
#
#   scripts/wayland-pictures.sh [BUILD_DIR]      (default build/release; the program must be built)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
program=$build/bin/vistrel
out=$root/docs/images

if [ -z "${VISTREL_PICTURES_SESSION:-}" ]; then
    if [ ! -x "$program" ]; then
        echo "wayland-pictures: $program is not built" >&2
        exit 1
    fi
    exec env VISTREL_PICTURES_SESSION=1 VISTREL_WAYLAND_XWAYLAND=1 VISTREL_WAYLAND_PATTERN=screen \
        VISTREL_TEST_SCREEN=1280x720 "$root/scripts/test-env.sh" --wayland "$0" "$build"
fi

home=$(mktemp -d /tmp/vistrel-wayland-pictures.XXXXXX)
pid=
finish() {
    if [ -n "$pid" ]; then
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    fi
    rm -rf "$home"
}
trap finish EXIT

export HOME=$home XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data BROWSER=true
mkdir -p "$XDG_CONFIG_HOME/Ombrant" "$home/Videos/Vistrel" "$home/Pictures/Vistrel" "$out"
printf '[%%General]\nfirstRun=false\nlanguage=en_US\n[recording]\nsaveLocation=%s\n' \
    "$home/Videos/Vistrel" >"$XDG_CONFIG_HOME/Ombrant/Vistrel.conf"
# As a desktop session starts it: the program picks XWayland for its windows.
run() { env -u QT_QPA_PLATFORM "$program" "$@"; }

run >"$home/vistrel.out" 2>&1 &
pid=$!
for _ in $(seq 150); do
    grep -qs "OBS initialized successfully" "$XDG_DATA_HOME"/Ombrant/Vistrel/logs/*.log && break
    sleep 0.2
done
sleep 1
grim "$out/wayland-main-window.png"

# The selector over the desktop's still picture, mid-drag.
run --screenshot region --output "$home/region.png" >/dev/null 2>&1 &
shot=$!
sleep 2
xdotool mousemove 700 150 mousedown 1 mousemove 900 300 mousemove 1100 420
sleep 0.5
grim "$out/wayland-area-selector.png"
xdotool mouseup 1
wait "$shot" || true

# A region recording: its frame, the bar above it and a stroke of the pen.
run --start-recording --no-countdown --region 700,120,480x300 >/dev/null
sleep 1.5
bar=$(for w in $(xdotool search --onlyvisible --class vistrel); do
    xdotool getwindowgeometry --shell "$w" | tr '\n' ' '
    echo
done | grep 'HEIGHT=30 ' | head -n 1)
eval "$(echo "$bar" | tr ' ' '\n' | grep -E '^(X|Y)=')"
xdotool mousemove $((X + 15)) $((Y + 15)) click 1
sleep 0.3
xdotool mousemove 760 200 mousedown 1 mousemove 850 300 mousemove 950 240 mousemove 1100 360 \
    mouseup 1
sleep 0.5
grim "$out/wayland-recording.png"
run --stop-recording >/dev/null
echo "wayland-pictures: $out/wayland-main-window.png, wayland-area-selector.png, wayland-recording.png"
