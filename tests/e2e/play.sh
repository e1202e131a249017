#!/bin/bash
# The real game in a window under Xvfb, played with the mouse: the title,
# the pointer under the mouse from the start, at the edge when it leaves,
# Start reached in three jumps and held, the pan swept low over the field,
# Escape back to the title, a second game left alone until a ball is lost,
# the game-over screen, the title again (the pointer back under the mouse
# each time), and a third game under which the X server goes away: the game
# quits at once with status 1, writing kiv.prf, as from a closed window, and
# the whole run is kept as a replay that kiv-verify plays to the same steps.
# Screenshots of the window are kept under <build>/e2e-artefacts/play.
# Usage: play.sh <kiv-binary> <source-dir> <build-dir>
set -u
KIV=$(cd "$(dirname "$1")" && pwd)/$(basename "$1") SRC=$(cd "$2" && pwd) BUILD=$(cd "$3" && pwd)
. "$(dirname "$0")/lib.sh"
start_e2e play
start_xvfb 1024x768

# The mouse rests where (150, 250) of the window will be, in the middle of the screen.
xdo mousemove 342 394
tied "$KIV" -window -nosound >"$ART/kiv-output.txt" 2>&1
GAME_PID=$!
wid=$(wait_window 15 $GAME_PID) || fail "no window named Kiv"
[ "$(xdo getwindowgeometry "$wid" | sed -n 's/ *Position: \([0-9,]*\).*/\1/p; s/ *Geometry: //p' | paste -sd ' ')" = \
    "192,144 640x480" ] || fail "the window is not 640x480 at 192,144"
SHOTS_OF=$wid

wait_screen title 10 1-title || fail "the game did not start on the title"
pointer_at 150 250 5 1-pointer || fail "the pointer did not start under the mouse (see $ART/1-pointer-1.png)"
# Out of the window to its left the pointer stops at the edge; back in
# elsewhere, it is under the mouse again.
xdo mousemove 20 374
pointer_at 0 230 5 1-pointer-out || fail "the pointer did not follow the mouse to the window's edge"
xdo mousemove --window "$wid" 300 230
pointer_at 300 230 5 1-pointer-back || fail "the pointer did not come back under the mouse"
# Made larger by force, the window shows the picture in its middle.
xdo windowsize "$wid" 800 600
for i in $(seq 1 30); do
    shot 1-larger
    [ "$(share 1-larger 160x92+480+140)" -ge 900 ] && [ "$(share 1-larger 40x92+80+140)" -ge 900 ] && break
    [ "$i" -lt 30 ] || fail "the picture is not in the middle of a larger window"
    sleep 0.3
done
pointer_at 300 230 5 1-larger-pointer || fail "the pointer left the mouse when the window grew"
xdo windowsize "$wid" 640 480

start_game 2-playing || fail "holding the button on Start did not begin a game"
# Sweep the pan low across the field, where it catches and holds balls.
for x in $(seq 40 12 560) $(seq 560 -12 40); do
    xdo mousemove --window "$wid" "$x" 440
    sleep 0.02
done
shot 3-sweep
# Out of the window and down beside it: the title puts the pointer on the
# edge next to the mouse, not where the mouse left.
xdo mousemove 20 444
xdo mousemove 20 344
xdo windowfocus --sync "$wid"
xdo key Escape
wait_screen title 10 4-escaped || fail "Escape in a game did not return to the title"
pointer_at 0 200 5 4-pointer || fail "the pointer is not beside the mouse after Escape"

start_game 5-second-game || fail "the second game did not begin"
# Park the pan in the top right corner: the next ball to come down is lost.
xdo mousemove --window "$wid" 639 0
wait_screen over 60 6-game-over || fail "no game-over screen after the pan was parked"
xdo mousemove --window "$wid" 250 240
wait_screen title 30 7-title-again || fail "the game-over screen did not return to the title"
pointer_at 250 240 5 7-pointer || fail "the pointer is not under the mouse after the game-over screen"

start_game 8-third-game || fail "the third game did not begin"
kill "$XVFB_PID"
wait_exit $GAME_PID 5 || fail "the game outlived its X server"
[ "$EXIT_STATUS" -eq 1 ] || fail "exit status $EXIT_STATUS"
[ "$(cat "$ART/kiv-output.txt")" = "Lost the display $DISPLAY" ] || fail "printed $(cat "$ART/kiv-output.txt")"
[ "$(hex_of kiv.prf)" = 000f4240 ] || fail "kiv.prf holds $(hex_of kiv.prf)"
# The run is kept as a replay, which plays again to the same steps.
replays=$(ls "$XDG_DATA_HOME/kiv/replays")
[[ $replays =~ ^kiv-20[0-9]{2}-[0-9]{2}-[0-9]{2}-[0-9]{6}-[0-9]+\.rec$ ]] || fail "replays kept: '$replays'"
"$BUILD/kiv-verify" "$XDG_DATA_HOME/kiv/replays/$replays" >"$ART/verified.txt" 2>&1 ||
    fail "the run's replay does not verify: $(cat "$ART/verified.txt")"
echo "PASS (screenshots in $ART)"
