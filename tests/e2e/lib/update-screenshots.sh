#!/bin/bash
# Copies the three screenshots of the end-to-end play test that the README
# shows (title, play with a special event, game over) into docs/screenshots.
# Usage: update-screenshots.sh [artefacts-dir] [docs-screenshots-dir]
# (defaults: build/e2e-artefacts/play_screens and docs/screenshots of this
# checkout). Run the test first, e.g. cd build && ctest -R play_screens.
set -eu
here=$(cd "$(dirname "$0")/../../.." && pwd)
ART=${1:-$here/build/e2e-artefacts/play_screens}
DOCS=${2:-$here/docs/screenshots}
for name in title play game-over; do
    [ -f "$ART/$name.png" ] || { echo "no $ART/$name.png: run the play_screens test first" >&2; exit 1; }
    size=$(identify -format '%wx%h' "$ART/$name.png")
    [ "$size" = 640x480 ] || { echo "$ART/$name.png is $size, not 640x480" >&2; exit 1; }
done
mkdir -p "$DOCS"
for name in title play game-over; do
    # Screenshots come as 24-bit PNGs; the game has at most 256 colours, so
    # a paletted copy is exact and much smaller.
    convert "$ART/$name.png" -strip -define png:exclude-chunks=date,time PNG8:"$DOCS/$name.png"
    echo "$DOCS/$name.png: $(stat -c %s "$DOCS/$name.png") bytes"
done
