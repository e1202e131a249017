#!/bin/bash
# The real game under Xvfb: the title comes up, holding the left button over
# Start begins a game (the side panel appears at the right edge), Escape goes
# back to the title and a second Escape ends the program with status 1.
# Usage: title_start.sh <kiv-binary> <source-dir> <build-dir>
set -u
KIV=$1 SRC=$2 BUILD=$3
. "$(dirname "$0")/lib/xvfb.sh"
start_e2e title_start

start_xvfb
"$KIV" -window -nosound >"$ART/kiv-output.txt" 2>&1 &
GAME_PID=$!
wid=$(wait_window Kiv 15) || fail "no window named Kiv"
sleep 1
import -window root "$ART/1-title.png" || fail "no screenshot"

# The title: the right strip (400..639 x 80..171) and the button backdrop
# are panel coloured; the top of the right edge is not.
strip=$(panel_share "$ART/1-title.png" 240x92+400+80)
corner=$(panel_share "$ART/1-title.png" 45x60+595+10)
echo "title: right strip $strip, top right corner $corner (per mille panel colour)"
[ "$strip" -ge 900 ] || fail "the title's right strip is missing ($strip)"
[ "$corner" -le 100 ] || fail "the top right corner is panel coloured on the title ($corner)"

walk_to_start "$wid"
import -window root "$ART/2-over-start.png"
xdo mousedown 1
sleep 0.4
import -window root "$ART/3-playing.png"
sleep 0.3
import -window root "$ART/4-playing.png"
xdo mouseup 1

playing=0
for shot in 3-playing 4-playing; do
    side=$(panel_share "$ART/$shot.png" 45x480+595+0)
    echo "$shot: side panel $side per mille panel colour"
    [ "$side" -ge 900 ] && playing=1
done
[ $playing = 1 ] || fail "no playing frame with the side panel after clicking Start"

# Escape in a game goes back to the title; Escape on the title quits.
xdo windowfocus --sync "$wid" 2>/dev/null
xdo key Escape
sleep 0.5
import -window root "$ART/5-after-escape.png"
strip=$(panel_share "$ART/5-after-escape.png" 240x92+400+80)
[ "$strip" -ge 900 ] || fail "Escape in the game did not show the title ($strip)"
xdo key Escape
wait_exit $GAME_PID 10 || fail "the second Escape did not end the game"
GAME_PID=
[ $EXIT_STATUS -eq 1 ] || fail "exit status $EXIT_STATUS"
[ "$(hex_of kiv.prf)" = "000f4240" ] || fail "kiv.prf holds $(hex_of kiv.prf)"
echo "PASS (screenshots in $ART)"
