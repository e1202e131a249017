#!/bin/bash
# The real binary: bad options, start in a window and full screen, Escape
# quits with status 1 and writes kiv.prf.
set -u
KIV=$1 SRC=$2 BUILD=$3
. "$(dirname "$0")/lib/xvfb.sh"
start_e2e start_quit

# Bad options: the usage line, status 1, before any window (no DISPLAY here).
for args in "-Window" "-mousespeed" "kiv.prf" "-window -nosound --help"; do
    err=$(env -u DISPLAY "$KIV" $args 2>&1 >/dev/null); st=$?
    [ $st -eq 1 ] || fail "'$args' exited $st"
    [ "$err" = "Usage: $KIV [-nosound] [-mousespeed num] [-window]" ] || fail "'$args' printed '$err'"
done
[ ! -e kiv.prf ] || fail "a usage error wrote kiv.prf"

start_xvfb

# Windowed: the window is captioned Kiv; Escape on the title quits.
t0=$(date +%s%N)
"$KIV" -window -nosound 2>"$ART/stderr-window.txt" &
GAME_PID=$!
wid=$(wait_window Kiv 15 $GAME_PID) || fail "no window named Kiv"
t1=$(date +%s%N)
echo "window after $(( (t1 - t0) / 1000000 )) ms"
sleep 0.5
geom=$(xdo getwindowgeometry "$wid" | grep Geometry | awk '{print $2}')
[ "$geom" = "640x480" ] || fail "window is $geom"
import -window root "$ART/title-window.png"
# The title state's first frames: a white screen with the game's drawing on it.
[ "$(pixel_of "$ART/title-window.png" 320 20)" != "0,0,0" ] || fail "the window shows nothing"
xdo windowfocus --sync "$wid" 2>/dev/null
xdo key Escape
wait_exit $GAME_PID 10 || fail "Escape did not end the game"
GAME_PID=
[ $EXIT_STATUS -eq 1 ] || fail "exit status $EXIT_STATUS after Escape"
[ "$(hex_of kiv.prf)" = "000f4240" ] || fail "kiv.prf holds $(hex_of kiv.prf)"

# A better stored score survives a run unchanged; full screen this time.
printf '\x00\x10\x00\x00' > kiv.prf
"$KIV" -nosound 2>"$ART/stderr-full.txt" &
GAME_PID=$!
wid=$(wait_window Kiv 15 $GAME_PID) || fail "no full-screen window"
sleep 0.5
import -window root "$ART/title-full.png"
xdo windowfocus --sync "$wid" 2>/dev/null
xdo key Escape
wait_exit $GAME_PID 10 || fail "Escape did not end the full-screen game"
GAME_PID=
[ $EXIT_STATUS -eq 1 ] || fail "exit status $EXIT_STATUS after Escape (full screen)"
[ "$(hex_of kiv.prf)" = "00100000" ] || fail "kiv.prf holds $(hex_of kiv.prf)"
ls "$WORKDIR" | grep -q tmp && fail "a temporary file was left behind"
echo "PASS"
