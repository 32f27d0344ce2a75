#!/usr/bin/env bash
# GIF benchmark: a region of 800x600 in the middle of the moving screen, 15 pictures a second
# for 10 s, recorded to GIF by the engine and by the ffmpeg tool the way it makes its best
# GIFs (a lossless capture, palettegen=stats_mode=diff, paletteuse=dither=sierra2_4a; the CPU
# of all three passes counted). Prints the record bench's table: CPU, size and SSIM against
# the screen of both.
#
#   scripts/gif-bench.sh [seconds] [--region WxH] [--fps N]     (default 10 s, 800x600, 15)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=10
region=800x600
fps=15
while [ $# -gt 0 ]; do
    case "$1" in
    --region) region=$2; shift 2 ;;
    --fps) fps=$2; shift 2 ;;
    *) seconds=$1; shift ;;
    esac
done
exec scripts/record-bench.sh "$seconds" --format gif --fps "$fps" --region "$region"
