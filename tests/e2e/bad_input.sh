#!/bin/bash
# The real binary against bad input: options, kiv.prf, pictures, sounds, and
# kiv.prf's durability when the game is killed while it quits.
set -u
KIV=$1 SRC=$2 BUILD=$3
. "$(dirname "$0")/lib/xvfb.sh"
start_xvfb
exec python3 "$(dirname "$0")/lib/bad_input.py" "$KIV" "$SRC" "$BUILD"
