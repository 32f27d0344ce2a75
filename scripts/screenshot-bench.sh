#!/usr/bin/env bash
# Screenshot benchmark: starts the built program in a private desktop session (1920x1080 with
# compositing manager) and prints, as median / min / max of 20 runs, the time from the
# screenshot hotkey to the region selection on screen, and from `vistrel --screenshot full
# --output FILE` to the saved PNG, next to `import -window root` and `ffmpeg -f x11grab`.
#
#   scripts/screenshot-bench.sh [BUILD_DIR] [runs]    (default build/test, 20 runs;
#                                                     screen VISTREL_TEST_SCREEN)
#
# Builds nothing: build vistrel and screenshot-bench first (vbuild vistrel screenshot-bench).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/test}
runs=${2:-20}
for program in "$build/bin/vistrel" "$build/bin/screenshot-bench"; do
    if [ ! -x "$program" ]; then
        echo "screenshot-bench: $program is missing; build it first" >&2
        exit 1
    fi
done
for tool in xdotool import ffmpeg; do
    command -v "$tool" >/dev/null || { echo "screenshot-bench: $tool is not installed" >&2; exit 1; }
done

export VISTREL_TEST_SCREEN=${VISTREL_TEST_SCREEN:-1920x1080x24}
# The program's and Qt's chatter goes to a file; the table to stdout.
log=$(mktemp /tmp/screenshot-bench.XXXXXX.log)
echo "screenshot-bench: messages in $log" >&2
exec scripts/test-env.sh "$build/bin/screenshot-bench" "$build/bin/vistrel" "$runs" 2>"$log"
