#!/usr/bin/env bash
# Runs a command inside a private desktop session: Xvfb on a free display, openbox,
# a compositing manager, PulseAudio with a null sink as default output and a remapped
# source as default input, and a private D-Bus session bus. Everything started here is
# stopped again by process id when the command ends or the script is interrupted.
# Exit status: the command's.
#
#   scripts/test-env.sh ctest --output-on-failure
#   scripts/test-env.sh --no-compositor some-test   (a session without compositing manager)
#   scripts/test-env.sh --wayland some-test         (headless Wayland: scripts/wayland-session.sh)
set -uo pipefail

if [ "${1:-}" = "--wayland" ]; then
    shift
    exec "$(dirname "$0")/wayland-session.sh" "$@"
fi

compositor=1
if [ "${1:-}" = "--no-compositor" ]; then
    compositor=0
    shift
fi

if [ $# -eq 0 ]; then
    echo "usage: $0 COMMAND [ARGS...]" >&2
    exit 2
fi

pids=()
runtime_dir=$(mktemp -d /tmp/vistrel-session.XXXXXX)
chmod 700 "$runtime_dir"

cleanup() {
    local pid
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        pid=${pids[i]}
        kill "$pid" 2>/dev/null
    done
    for pid in "${pids[@]}"; do
        for _ in $(seq 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -9 "$pid" 2>/dev/null
    done
    rm -rf "$runtime_dir"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

wait_for() { # description, tries of 0.1 s, command...
    local what=$1 tries=$2
    shift 2
    for _ in $(seq "$tries"); do
        "$@" >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    echo "test-env: $what did not come up" >&2
    return 1
}

# --- X server on a display number it picks itself (no race between parallel sessions) ----
# -noreset: otherwise the server resets when its first client (xdpyinfo below) leaves, and a
# window manager connecting at that moment finds no display.
Xvfb -displayfd 3 -screen 0 "${VISTREL_TEST_SCREEN:-1920x1080x24}" -nolisten tcp -ac -noreset \
    +extension GLX +extension Composite +extension XInputExtension \
    3>"$runtime_dir/display" >"$runtime_dir/xvfb.log" 2>&1 &
pids+=($!)
display_known() { [ -s "$runtime_dir/display" ]; }
wait_for "Xvfb display number" 100 display_known || { cat "$runtime_dir/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(head -n 1 "$runtime_dir/display")"
wait_for "Xvfb" 100 xdpyinfo || { cat "$runtime_dir/xvfb.log" >&2; exit 1; }

# --- private session bus -------------------------------------------------------------------
eval "$(dbus-launch --sh-syntax)"
pids+=("$DBUS_SESSION_BUS_PID")
export DBUS_SESSION_BUS_ADDRESS

# --- window manager and compositor ----------------------------------------------------------
openbox --sm-disable >"$runtime_dir/openbox.log" 2>&1 &
pids+=($!)
if [ "$compositor" = 1 ]; then
    xcompmgr >"$runtime_dir/xcompmgr.log" 2>&1 &
    pids+=($!)
fi
# xprop succeeds with or without the property: look for the window manager's window.
wm_running() { xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"; }
wait_for "openbox" 150 wm_running || { cat "$runtime_dir/openbox.log" >&2; exit 1; }

# --- sound server ---------------------------------------------------------------------------
export XDG_RUNTIME_DIR="$runtime_dir"
unset PULSE_SERVER
pulseaudio --daemonize=no --exit-idle-time=-1 --disallow-exit --use-pid-file=no \
    --system=no -n \
    -L "module-native-protocol-unix" \
    -L "module-null-sink sink_name=speakers sink_properties=device.description=Speakers" \
    -L "module-null-sink sink_name=mic_feed sink_properties=device.description=MicFeed" \
    -L "module-remap-source source_name=microphone master=mic_feed.monitor source_properties=device.description=Microphone" \
    -L "module-always-sink" \
    >"$runtime_dir/pulse.log" 2>&1 &
pids+=($!)
wait_for "PulseAudio" 100 pactl info || { cat "$runtime_dir/pulse.log" >&2; exit 1; }
pactl set-default-sink speakers >/dev/null
pactl set-default-source microphone >/dev/null

echo "test-env: DISPLAY=$DISPLAY XDG_RUNTIME_DIR=$XDG_RUNTIME_DIR compositor=$compositor"
"$@"
exit $?
