#!/usr/bin/env bash
# Runs a command inside a private headless Wayland session: sway on one headless output,
# PipeWire with WirePlumber and its PulseAudio server (a null sink as default output and a
# remapped source as default input, as in the X11 session), the xdg-desktop-portal frontend
# with the project's test backend (tests/support/portal-backend), which serves screen casts
# from PipeWire test streams, and a private D-Bus session bus. Everything started here is
# stopped again by process id when the command ends or the script is interrupted.
# Exit status: the command's. Usually started as scripts/test-env.sh --wayland.
#
#   scripts/test-env.sh --wayland ctest --output-on-failure
#
#   VISTREL_TEST_SCREEN=1280x720     output and screen stream size (default 1920x1080)
#   VISTREL_WAYLAND_PATTERN=quadrants  what casts show: a videotestsrc pattern (default ball),
#                                    or red, green / blue, white quadrants
#   VISTREL_WAYLAND_SCREENSHOT=pattern  screenshots of the cast picture instead of the output
#   VISTREL_WAYLAND_XWAYLAND=1       XWayland for X11 clients, DISPLAY exported
#   VISTREL_WAYLAND_SCALE=2          the output's scale (2, or 1.5); the screen size stays in
#                                    device pixels, the logical size is divided by it
#   VISTREL_WAYLAND_NO_SHORTCUTS=1   the portal offers no GlobalShortcuts, as GNOME's and
#                                    wlroots' do not
#   VISTREL_WAYLAND_LOGS=DIR         the pieces' logs are copied there at the end
set -uo pipefail

if [ $# -eq 0 ]; then
    echo "usage: $0 COMMAND [ARGS...]" >&2
    exit 2
fi

root=$(cd "$(dirname "$0")/.." && pwd)
started=$(date +%s.%N)
screen=${VISTREL_TEST_SCREEN:-1920x1080}
width=${screen%%x*}
height=${screen#*x}
height=${height%%x*} # the X11 session's form has a depth: 1920x1080x24
if ! [[ $width =~ ^[1-9][0-9]*$ && $height =~ ^[1-9][0-9]*$ ]]; then
    echo "test-env: VISTREL_TEST_SCREEN=$screen is not WIDTHxHEIGHT" >&2
    exit 2
fi
xwayland=${VISTREL_WAYLAND_XWAYLAND:-0}
scale=${VISTREL_WAYLAND_SCALE:-1}
if ! [[ $scale =~ ^[1-9](\.[0-9]+)?$ ]]; then
    echo "test-env: VISTREL_WAYLAND_SCALE=$scale is not a scale such as 2 or 1.5" >&2
    exit 2
fi

pids=()
command_pid=
runtime_dir=$(mktemp -d /tmp/vistrel-wayland.XXXXXX)
chmod 700 "$runtime_dir"
sway_dir=

stop() { # pid: TERM, then KILL after 5 s
    kill "$1" 2>/dev/null || return 0
    for _ in $(seq 100); do
        kill -0 "$1" 2>/dev/null || return 0
        sleep 0.05
    done
    kill -9 "$1" 2>/dev/null
}

cleanup() {
    [ -n "$command_pid" ] && stop "$command_pid"
    # One at a time, newest first: every piece still finds the ones it talks to while leaving.
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        stop "${pids[i]}"
    done
    if [ -n "${VISTREL_WAYLAND_LOGS:-}" ]; then
        mkdir -p "$VISTREL_WAYLAND_LOGS" && cp "$runtime_dir"/*.log "$VISTREL_WAYLAND_LOGS"/
    fi
    rm -rf "$runtime_dir" ${sway_dir:+"$sway_dir"}
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

wait_for() { # description, log file, tries of 0.1 s, command... (about the newest piece)
    local what=$1 log=$2 tries=$3
    shift 3
    for _ in $(seq "$tries"); do
        "$@" >/dev/null 2>&1 && return 0
        kill -0 "${pids[-1]}" 2>/dev/null || break
        sleep 0.1
    done
    echo "test-env: $what did not come up" >&2
    [ -f "$log" ] && tail -n 40 "$log" >&2
    exit 1
}

has_bus_name() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner "string:$1" | grep -q "boolean true"
}

# --- what the system must offer ---------------------------------------------------------
# wlroots allocates its buffers in /dev/shm: without it sway spins on "Failed to allocate
# buffer".
if ! findmnt -n -t tmpfs /dev/shm >/dev/null || [ "$(stat -c %a /dev/shm)" != 1777 ]; then
    if [ "$(id -u)" -eq 0 ]; then
        mkdir -p /dev/shm && mount -t tmpfs -o mode=1777,nosuid,nodev tmpfs /dev/shm
    else
        echo "test-env: /dev/shm is not a tmpfs open to everyone; sway may fail" >&2
    fi
fi
# Without logind (containers, chroots) WirePlumber waits forever for these folders.
for dir in /run/systemd/seats /run/systemd/sessions /run/systemd/users; do
    if [ ! -d "$dir" ]; then
        if [ "$(id -u)" -eq 0 ]; then
            mkdir -p "$dir"
        else
            echo "test-env: $dir missing; WirePlumber may not start" >&2
        fi
    fi
done
if ! gst-inspect-1.0 pipewiresink >/dev/null 2>&1; then
    echo "test-env: GStreamer's pipewiresink is missing (gstreamer1.0-pipewire)" >&2
    exit 1
fi

# --- private session bus ----------------------------------------------------------------
# Nothing is bus-activated: every helper is started below, where its pid is known and its
# environment is this session's (activated ones, such as the document portal with its FUSE
# mount in the runtime folder, would outlive the bus).
cat >"$runtime_dir/bus.conf" <<EOF
<busconfig>
  <type>session</type>
  <listen>unix:path=$runtime_dir/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF
dbus-daemon --config-file="$runtime_dir/bus.conf" --nofork --nopidfile --print-address=3 \
    3>"$runtime_dir/bus-address" >"$runtime_dir/dbus.log" 2>&1 &
pids+=($!)
bus_known() { [ -s "$runtime_dir/bus-address" ]; }
wait_for "D-Bus session bus" "$runtime_dir/dbus.log" 100 bus_known
DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$runtime_dir/bus-address")
export DBUS_SESSION_BUS_ADDRESS

export XDG_RUNTIME_DIR="$runtime_dir"
export XDG_SESSION_TYPE=wayland
export XDG_CURRENT_DESKTOP=vistrel-test # matches UseIn= of the test backend's .portal file
export XDG_DESKTOP_PORTAL_DIR="$root/tests/support/portal-backend"
if [ "${VISTREL_WAYLAND_NO_SHORTCUTS:-0}" = 1 ]; then
    # The frontend offers only what the backend's .portal file names.
    mkdir "$runtime_dir/portals"
    sed 's/org\.freedesktop\.impl\.portal\.GlobalShortcuts;//' \
        "$XDG_DESKTOP_PORTAL_DIR/vistrel-test.portal" >"$runtime_dir/portals/vistrel-test.portal"
    export XDG_DESKTOP_PORTAL_DIR="$runtime_dir/portals"
fi
export QT_QPA_PLATFORM=wayland
export VISTREL_TEST_SCREEN="${width}x${height}"
unset DISPLAY WAYLAND_SOCKET PULSE_SERVER PIPEWIRE_REMOTE
# State of the sound server and the permission store (restore tokens) stays in this session.
state=(XDG_CONFIG_HOME="$runtime_dir/config" XDG_STATE_HOME="$runtime_dir/state"
    XDG_DATA_HOME="$runtime_dir/data")

# --- compositor -------------------------------------------------------------------------
# sway refuses to run as root: root runs it as nobody, in a runtime folder of nobody's, and
# clients get the socket's absolute path.
if [ "$(id -u)" -eq 0 ]; then
    sway_dir=$(mktemp -d /tmp/vistrel-sway.XXXXXX)
    chown nobody: "$sway_dir"
    as_sway_user=(setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups --)
else
    sway_dir="$runtime_dir/sway"
    mkdir "$sway_dir"
    as_sway_user=()
fi
chmod 700 "$sway_dir"
if [ "$xwayland" = 1 ]; then xwayland_mode=enable; else xwayland_mode=disable; fi
cat >"$sway_dir/config" <<EOF
output HEADLESS-1 resolution ${width}x${height} position 0,0 scale $scale
xwayland $xwayland_mode
default_border none
EOF
"${as_sway_user[@]}" env HOME="$sway_dir" XDG_RUNTIME_DIR="$sway_dir" WLR_BACKENDS=headless \
    WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 WLR_HEADLESS_OUTPUTS=1 \
    sway -c "$sway_dir/config" >"$runtime_dir/sway.log" 2>&1 &
pids+=($!)
output_ready() {
    SWAYSOCK=$(compgen -G "$sway_dir/sway-ipc.*.sock") &&
        swaymsg -s "$SWAYSOCK" -t get_outputs -r | grep -q "\"width\": $width,"
}
wait_for "sway" "$runtime_dir/sway.log" 100 output_ready
SWAYSOCK=$(compgen -G "$sway_dir/sway-ipc.*.sock")
WAYLAND_DISPLAY=$(compgen -G "$sway_dir/wayland-[0-9]*" | grep -v '\.lock$' | head -n 1)
export SWAYSOCK WAYLAND_DISPLAY

if [ "$xwayland" = 1 ]; then
    # sway knows the X display it reserved for XWayland (started at the first X client), and
    # XWayland lets in only its own user unless told otherwise.
    cat >"$sway_dir/x11-setup" <<EOF
printf %s "\$DISPLAY" >"$sway_dir/display"
xhost +si:localuser:$(id -un)
EOF
    swaymsg -s "$SWAYSOCK" exec "sh $sway_dir/x11-setup" >/dev/null
    display_known() { [ -s "$sway_dir/display" ]; }
    wait_for "XWayland display number" "$runtime_dir/sway.log" 50 display_known
    DISPLAY=$(cat "$sway_dir/display")
    export DISPLAY
    wait_for "XWayland" "$runtime_dir/sway.log" 100 xdpyinfo
fi

# --- PipeWire and its PulseAudio server ---------------------------------------------------
env "${state[@]}" pipewire >"$runtime_dir/pipewire.log" 2>&1 &
pids+=($!)
wait_for "PipeWire" "$runtime_dir/pipewire.log" 100 pw-cli info 0
env "${state[@]}" wireplumber >"$runtime_dir/wireplumber.log" 2>&1 &
pids+=($!)
session_manager_running() { pw-dump -N | grep -q '"application.name": "WirePlumber"'; }
wait_for "WirePlumber" "$runtime_dir/wireplumber.log" 150 session_manager_running
# Made here: pactl (waiting below) and pipewire-pulse would both create it, and
# pipewire-pulse gives up when it loses that race.
mkdir -m 700 "$runtime_dir/pulse"
env "${state[@]}" pipewire-pulse >"$runtime_dir/pipewire-pulse.log" 2>&1 &
pids+=($!)
wait_for "pipewire-pulse" "$runtime_dir/pipewire-pulse.log" 100 pactl info
{
    pactl load-module module-null-sink sink_name=speakers sink_properties=device.description=Speakers &&
        pactl load-module module-null-sink sink_name=mic_feed sink_properties=device.description=MicFeed &&
        pactl load-module module-remap-source source_name=microphone master=mic_feed.monitor \
            source_properties=device.description=Microphone
} >>"$runtime_dir/pipewire-pulse.log" 2>&1
# WirePlumber picks the defaults up a moment after the devices appear.
defaults_set() {
    pactl set-default-sink speakers && pactl set-default-source microphone &&
        [ "$(pactl get-default-sink)" = speakers ] && [ "$(pactl get-default-source)" = microphone ]
}
wait_for "default sound devices" "$runtime_dir/pipewire-pulse.log" 100 defaults_set

# --- portal: permission store, test backend, frontend --------------------------------------
env "${state[@]}" /usr/libexec/xdg-permission-store --replace >"$runtime_dir/permission-store.log" 2>&1 &
pids+=($!)
wait_for "xdg-permission-store" "$runtime_dir/permission-store.log" 100 \
    has_bus_name org.freedesktop.impl.portal.PermissionStore
VISTREL_PORTAL_DIR="$runtime_dir/portal" /usr/bin/python3 "$root/tests/support/portal-backend/vistrel-test-portal.py" \
    >"$runtime_dir/test-portal.log" 2>&1 &
pids+=($!)
wait_for "test portal backend" "$runtime_dir/test-portal.log" 100 \
    has_bus_name org.freedesktop.impl.portal.desktop.vistrel-test
/usr/libexec/xdg-desktop-portal -r -v >"$runtime_dir/xdg-desktop-portal.log" 2>&1 &
pids+=($!)
screencast_offered() {
    has_bus_name org.freedesktop.portal.Desktop && dbus-send --session --print-reply --dest=org.freedesktop.portal.Desktop \
        /org/freedesktop/portal/desktop org.freedesktop.DBus.Properties.Get \
        string:org.freedesktop.portal.ScreenCast string:version | grep -q "uint32 4"
}
wait_for "xdg-desktop-portal" "$runtime_dir/xdg-desktop-portal.log" 100 screencast_offered

up=$(awk -v from="$started" -v to="$(date +%s.%N)" 'BEGIN { printf "%.1f", to - from }')
echo "test-env: WAYLAND_DISPLAY=$WAYLAND_DISPLAY${DISPLAY:+ DISPLAY=$DISPLAY}" \
    "XDG_RUNTIME_DIR=$XDG_RUNTIME_DIR screen=${width}x${height} up in $up s"

# In the background so that a TERM reaches cleanup at once instead of after the command.
# stdin stays the caller's, and Ctrl-C reaches the command again (bash makes background
# commands ignore it).
env --default-signal=INT "$@" <&0 &
command_pid=$!
wait "$command_pid"
status=$?
command_pid=
exit $status
