#!/usr/bin/env bash
# Takes the README's pictures: starts Vistrel in a private desktop session (scripts/test-env.sh)
# with a fresh home, opens the main window's three pages, the preferences and the about window
# by clicking as a user would, and saves each as a PNG in docs/images/.
#
#   scripts/screenshots.sh [BUILD_DIR]      (default build/release; the program must be built)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
program=$build/bin/vistrel
out=$root/docs/images

if [ -z "${VISTREL_SCREENSHOT_SESSION:-}" ]; then
    if [ ! -x "$program" ]; then
        echo "screenshots: $program is not built" >&2
        exit 1
    fi
    exec env VISTREL_SCREENSHOT_SESSION=1 "$root/scripts/test-env.sh" "$0" "$build"
fi

home=$(mktemp -d /tmp/vistrel-shots.XXXXXX)
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
# Not a first start: no welcome page in a browser.
printf '[%%General]\nfirstRun=false\nlanguage=en_US\n[recording]\nsaveLocation=%s\n[screenshot]\nsaveLocation=%s\n' \
    "$home/Videos/Vistrel" "$home/Pictures/Vistrel" >"$XDG_CONFIG_HOME/Ombrant/Vistrel.conf"

"$program" >"$home/vistrel.out" 2>&1 &
pid=$!

# Waits for a visible window whose title is exactly $1 and prints its id.
wait_window() {
    local id
    for _ in $(seq 150); do
        id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1 || true)
        if [ -n "$id" ]; then
            echo "$id"
            return 0
        fi
        sleep 0.2
    done
    echo "screenshots: no window \"$1\" appeared" >&2
    return 1
}

# Clicks at a point given relative to a window's top-left corner.
click_in() {
    local x y
    eval "$(xdotool getwindowgeometry --shell "$1")"
    x=$((X + $2))
    y=$((Y + $3))
    xdotool mousemove --sync "$x" "$y" click 1
}

# A window that has not painted yet comes out as one flat colour: take it again.
shoot() {
    sleep 1
    for _ in $(seq 20); do
        import -window "$1" "$out/$2.png"
        if [ "$(convert "$out/$2.png" -format '%[fx:standard_deviation>0]' info:)" = 1 ]; then
            echo "screenshots: $out/$2.png"
            return 0
        fi
        sleep 0.5
    done
    echo "screenshots: $2 stayed blank" >&2
    return 1
}

main=$(wait_window Vistrel)
# The engine comes up after the window; give it time to show its meters.
sleep 3
shoot "$main" main-window-recording
click_in "$main" 58 111
shoot "$main" main-window-screenshot
click_in "$main" 58 155
shoot "$main" main-window-files
click_in "$main" 58 67

eval "$(xdotool getwindowgeometry --shell "$main")"
click_in "$main" $((WIDTH - 115)) 18
settings=$(wait_window Settings)
shoot "$settings" preferences
# Its Cancel button.
click_in "$settings" 488 321

eval "$(xdotool getwindowgeometry --shell "$main")"
click_in "$main" $((WIDTH - 85)) 18
sleep 1
xdotool key Up Return
about=$(wait_window About)
shoot "$about" about
eval "$(xdotool getwindowgeometry --shell "$about")"
click_in "$about" $((WIDTH - 14)) 14
sleep 1

# An annotated screenshot: the main window's own picture shown by an image viewer (the main
# window steps aside for screenshots), a region screenshot dragged around it, a few marks by
# the tools' keys, as a user would.
display -title shot-subject -geometry +300+200 "$out/main-window-files.png" &
viewer=$!
subject=$(wait_window shot-subject)
sleep 1
eval "$(xdotool getwindowgeometry --shell "$subject")"
left=$((X - 30)) top=$((Y - 30)) right=$((X + WIDTH + 30)) bottom=$((Y + HEIGHT + 30))
"$program" --screenshot region >/dev/null 2>&1 &
sleep 3
drag() {
    xdotool mousemove --sync "$1" "$2" mousedown 1 mousemove "$(($1 + 5))" "$(($2 + 5))" \
        mousemove "$((($1 + $3) / 2))" "$((($2 + $4) / 2))" mousemove --sync "$3" "$4" mouseup 1
}
drag "$left" "$top" "$right" "$bottom"
sleep 2
xdotool key r
drag $((X + 175)) $((Y + 95)) $((X + 640)) $((Y + 150))
xdotool key a
drag $((X + 420)) $((Y + 300)) $((X + 330)) $((Y + 160))
xdotool key n
xdotool mousemove --sync $((X + 60)) $((Y + 117)) click 1
xdotool mousemove --sync $((X + 60)) $((Y + 161)) click 1
xdotool key m
drag $((X + 18)) $((Y + 91)) $((X + 98)) $((Y + 91))
xdotool key t
xdotool mousemove --sync $((X + 430)) $((Y + 295)) click 1
sleep 0.5
xdotool type "The newest file is on top"
xdotool key ctrl+Return
sleep 1
import -window root -crop "$((right - left + 40))x$((bottom - top + 110))+$((left - 20))+$((top - 20))" \
    "$out/annotated-screenshot.png"
echo "screenshots: $out/annotated-screenshot.png"
xdotool key Escape
kill "$viewer" 2>/dev/null || true
