#!/bin/bash
# Runs kept as replays, and kiv-watch: the real game full screen on a bare
# X server (its pointer starting in the middle wherever the mouse is), two
# games begun and left, then the title's Quit button; the run
# kept as one replay, which kiv-verify plays to the same steps. kiv-watch
# shows it: the title first, N to each game's Start and past the last one,
# Space pausing, 3 for 16 times the speed; it shows a game saved by the page
# to its end and past its game-over screen by itself, and refuses a bad file
# with the verifier's line before any window opens.
# Usage: replays.sh <kiv-binary> <source-dir> <build-dir>
set -u
KIV=$(cd "$(dirname "$1")" && pwd)/$(basename "$1") SRC=$(cd "$2" && pwd) BUILD=$(cd "$3" && pwd)
WATCH=$BUILD/kiv-watch VERIFY=$BUILD/kiv-verify
. "$(dirname "$0")/lib.sh"
start_e2e replays x

printf '\0\0\0\7' >kiv.prf
xdo mousemove 100 400
tied "$KIV" -nosound 2>"$ART/stderr.txt"
GAME_PID=$!
wid=$(wait_window 15 $GAME_PID) || fail "no window: $(cat "$ART/stderr.txt")"
wait_screen title 10 1-title || fail "the game did not start on the title"
pointer_at 320 240 5 1-pointer || fail "the pointer did not start in the middle"
for game in 1 2; do
    start_game "2-game$game" fs || fail "game $game did not begin"
    xdo mousemove_relative -- 0 40
    sleep 0.5
    xdo key Escape
    wait_screen title 10 "3-left$game" || fail "Escape did not leave game $game"
done
walk_to 519 366 fs
xdo mousedown 1
wait_exit $GAME_PID 10 || fail "the Quit button did not end the game"
xdo mouseup 1
[ "$EXIT_STATUS" -eq 1 ] && [ ! -s "$ART/stderr.txt" ] || fail "quit with $EXIT_STATUS: $(cat "$ART/stderr.txt")"
run=$(ls "$XDG_DATA_HOME"/kiv/replays/kiv-*.rec) || fail "no replay kept"
[ "$(echo "$run" | wc -l)" -eq 1 ] || fail "replays kept: $run"
# Played again, its Quit ends the replay, and no high score is written.
mkdir verify && cd verify && "$VERIFY" "$run" >"$ART/verified.txt" 2>&1 && [ ! -e kiv.prf ] ||
    fail "the run's replay: $(cat "$ART/verified.txt") $(ls)"
cd .. && grep -q '"end": "none"' "$ART/verified.txt" || fail "not a session: $(cat "$ART/verified.txt")"

# kiv-watch names its window by where the replay is: "Kiv replay 0:12 / 0:34 (1x) FILE".
caption() { xdotool getwindowname "$wid" 2>/dev/null; }
wait_caption() {   # PATTERN SECONDS
    local end=$((SECONDS + $2))
    while [ $SECONDS -lt $end ]; do
        [[ $(caption) =~ $1 ]] && return 0
        sleep 0.1
    done
    return 1
}
tied "$WATCH" -nosound "$run" 2>"$ART/watch-stderr.txt"
WATCH_PID=$!
wid=$(wait_window 15 $WATCH_PID '^Kiv replay ') || fail "kiv-watch showed no window: $(cat "$ART/watch-stderr.txt")"
xdo windowfocus --sync "$wid"
wait_screen title 10 4-watch-title || fail "the watched run does not begin on the title"
xdo key space
wait_caption '\(1x, paused\)' 5 || fail "Space did not pause: $(caption)"
for game in 1 2; do
    xdo key n
    wait_screen playing 5 "5-watch-game$game" || fail "N did not skip to game $game"
done
# Chosen while paused: at 16 times the speed the rest would be over at once.
xdo key 3
wait_caption '\(16x, paused\)' 5 || fail "3 did not choose 16 times the speed: $(caption)"
xdo key n
wait_exit $WATCH_PID 10 || fail "N past the last game did not end kiv-watch"
[ "$EXIT_STATUS" -eq 0 ] && [ ! -s "$ART/watch-stderr.txt" ] ||
    fail "kiv-watch ended with $EXIT_STATUS: $(cat "$ART/watch-stderr.txt")"

# A game the page saved plays from its Start to the end of its game-over
# screen, and kiv-watch ends by itself.
tied "$WATCH" -nosound "$SRC/tests/replays/game.rec" 2>"$ART/watch-stderr.txt"
WATCH_PID=$!
wid=$(wait_window 15 $WATCH_PID '^Kiv replay ') || fail "no window for the page's game"
xdo windowfocus --sync "$wid"
wait_screen playing 5 6-page-game || fail "the page's game does not begin in play"
xdo key 2
wait_caption '^Kiv replay 0:29 / 0:29 \(4x\)' 20 || fail "the page's game did not play to its end: $(caption)"
wait_exit $WATCH_PID 20 || fail "kiv-watch did not end after the page's game"
[ "$EXIT_STATUS" -eq 0 ] || fail "kiv-watch ended the page's game with $EXIT_STATUS"

# What the verifier says of a good file and a bad one; kiv-watch refuses the
# bad one with the verifier's line, and a wrong command line; no window.
[ "$("$VERIFY" "$SRC/tests/replays/game.rec")" = '{"score": 9828, "steps": 2998, "frames": 2590, "seconds": 29.98, "fingerprint": "09cc6650d5eef466", "end": "over"}' ] ||
    fail "kiv-verify: $("$VERIFY" "$SRC/tests/replays/game.rec" 2>&1)"
printf 'KIVR\1\2' >cut.rec
for args in "-nosound cut.rec" "-x cut.rec"; do
    err=$("$WATCH" $args 2>&1 >/dev/null); st=$?
    want="1 $("$VERIFY" cut.rec 2>&1)"
    [ "$args" = "-x cut.rec" ] && want="2 usage: kiv-watch [-nosound] FILE"
    [ "$st $err" = "$want" ] || fail "kiv-watch $args: $st $err"
done
echo "PASS (screenshots in $ART)"
