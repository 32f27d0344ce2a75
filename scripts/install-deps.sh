#!/usr/bin/env bash
# Installs the Debian packages Vistrel needs to build, run and test.
# Idempotent: only missing packages are installed, and the package lists are
# refreshed only when something has to be installed.
set -euo pipefail

packages=(
    # build
    build-essential cmake ninja-build pkg-config git
    qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev qt6-svg-dev qt6-tools-dev
    qt6-tools-dev-tools qt6-l10n-tools libqt6svg6 libqt6opengl6-dev
    libobs-dev obs-studio
    libavcodec-dev libavformat-dev libavfilter-dev libavutil-dev libswscale-dev
    libswresample-dev
    libx11-dev libxcb1-dev libxcb-shape0-dev libxcb-xinput-dev libxcb-keysyms1-dev
    libxcb-xfixes0-dev libx11-xcb-dev libxi-dev libxext-dev libxfixes-dev libgl-dev
    libegl-dev
    # run time
    libgl1-mesa-dri libegl1 libegl-mesa0 qt6-qpa-plugins qt6-image-formats-plugins
    gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-libav
    # Qt's own dialogs and standard buttons in the program's language
    qt6-translations-l10n
    # webcam: Qt Multimedia's GStreamer backend (v4l2src and jpegdec come with -good)
    libqt6multimedia6 libqt6multimediawidgets6 gstreamer1.0-gl
    qt6-multimedia-dev fonts-dejavu-core fonts-noto-cjk
    # test environment
    xvfb xauth openbox xcompmgr pulseaudio pulseaudio-utils dbus dbus-x11 ffmpeg
    xdotool sox x11-utils procps
    # two monitors on one test screen (xrandr --setmonitor)
    x11-xserver-utils
    # a real XEmbed tray for the tray icon's tests
    trayer
    # install and package checks (scripts/build-deb.sh, tests/install)
    desktop-file-utils appstream lintian dpkg-dev
    # README pictures (scripts/screenshots.sh)
    imagemagick
    # the desktop sound source, and the sound sync benchmark's tone source
    libpulse-dev
    # copy text from screenshots: Tesseract with English and the program's other languages
    libtesseract-dev tesseract-ocr-eng tesseract-ocr-deu tesseract-ocr-fra tesseract-ocr-spa
    tesseract-ocr-por tesseract-ocr-ita tesseract-ocr-chi-sim tesseract-ocr-chi-tra
    tesseract-ocr-jpn
    # Wayland test session (scripts/wayland-session.sh): headless sway, PipeWire with its
    # PulseAudio server, the portal frontend and the test backend's Python, the screen stream
    # and its pipewiresrc reader, grim for screenshots of the output; headers for the
    # Wayland capture code, Qt's Wayland platform plugin, libobs' PipeWire source
    sway grim xwayland pipewire pipewire-bin pipewire-pulse wireplumber xdg-desktop-portal
    python3 python3-dbus python3-gi gir1.2-glib-2.0 gstreamer1.0-tools gstreamer1.0-pipewire
    libpipewire-0.3-dev libwayland-dev qt6-wayland obs-plugins dbus-bin dbus-daemon util-linux
    # GNOME's shortcut settings as the hotkeys page writes them (gsettings and the schema)
    libglib2.0-bin gnome-settings-daemon-common
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
    SUDO=sudo
else
    SUDO=
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
