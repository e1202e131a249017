#!/bin/bash
# The real game in a window under Xvfb, played with the mouse: the title,
# Start held, the pan swept low over the field, Escape back to the title,
# a second game left alone until a ball is lost, the game-over screen, the
# title again, and Escape to quit with status 1, writing kiv.prf.
# Screenshots are kept under <build>/e2e-artefacts/play.
# Usage: play.sh <kiv-binary> <source-dir> <build-dir>
set -u
KIV=$(cd "$(dirname "$1")" && pwd)/$(basename "$1") SRC=$(cd "$2" && pwd) BUILD=$(cd "$3" && pwd)
. "$(dirname "$0")/lib.sh"
start_e2e play x

tied "$KIV" -window -nosound >"$ART/kiv-output.txt" 2>&1
GAME_PID=$!
wid=$(wait_window 15 $GAME_PID) || fail "no window named Kiv"
sleep 1
[ "$(xdo getwindowgeometry "$wid" | sed -n 's/ *Geometry: //p')" = 640x480 ] || fail "the window is not 640x480"
shot 1-title
[ "$(screen_of 1-title)" = title ] || fail "the game did not start on the title"

# The game pointer follows relative motion only and stops at the edges:
# push it into the top left corner, then walk it onto Start and hold the
# button there.
start_game() {
    local p i
    for p in 320,240 160,120 0,0 0,0; do
        xdo mousemove --window "$wid" "${p%,*}" "${p#*,}"
        sleep 0.05
    done
    sleep 0.2
    for i in $(seq 1 20); do
        xdo mousemove --window "$wid" $((i * 520 / 20)) $((i * 316 / 20))
        sleep 0.05
    done
    sleep 0.2
    xdo mousedown 1
    sleep 0.4
    xdo mouseup 1
}

# Waits up to $2 seconds for screen $1, taking screenshots named $3-N.
wait_screen() {
    local i
    for i in $(seq 1 $(($2 * 2))); do
        shot "$3-$i"
        [ "$(screen_of "$3-$i")" = "$1" ] && { cp "$ART/$3-$i.png" "$ART/$3.png"; return 0; }
        sleep 0.5
    done
    return 1
}

start_game
wait_screen playing 3 2-playing || fail "holding the button on Start did not begin a game"
# Sweep the pan low across the field, where it catches and holds balls.
for x in $(seq 40 12 560) $(seq 560 -12 40); do
    xdo mousemove --window "$wid" "$x" 440
    sleep 0.02
done
shot 3-sweep
xdo windowfocus --sync "$wid"
xdo key Escape
wait_screen title 3 4-escaped || fail "Escape in a game did not return to the title"

start_game
wait_screen playing 3 5-second-game || fail "the second game did not begin"
# Park the pan in the top right corner: the next ball to come down is lost.
xdo mousemove --window "$wid" 639 0
wait_screen over 60 6-game-over || fail "no game-over screen after the pan was parked"
wait_screen title 8 7-title-again || fail "the game-over screen did not return to the title"

escape_until_gone "$wid" $GAME_PID || fail "Escape on the title did not end the game"
[ "$EXIT_STATUS" -eq 1 ] || fail "exit status $EXIT_STATUS"
[ "$(hex_of kiv.prf)" = 000f4240 ] || fail "kiv.prf holds $(hex_of kiv.prf)"
echo "PASS (screenshots in $ART)"
