#!/bin/bash
# The real binary from the command line: bad options, the options that
# start it (in a window and full screen), what it makes of kiv.prf, a missing
# picture, a kiv.prf that survives the game being killed while it quits,
# SIGTERM, SIGINT and SIGHUP, full screen on large screens with and without a
# window manager, and the X server going away under a running game. A run
# that never leaves the title keeps no replay.
# Usage: options.sh <kiv-binary> <source-dir> <build-dir>
set -u
KIV=$(cd "$(dirname "$1")" && pwd)/$(basename "$1") SRC=$(cd "$2" && pwd) BUILD=$(cd "$3" && pwd)
. "$(dirname "$0")/lib.sh"
start_e2e options

# Bad options: the usage line and status 1 before any window (no display).
for args in "-Window" "-mousespeed" "kiv.prf" "-window -nosound --help" "-window -mousespeed" "-nosound x -window"; do
    err=$("$KIV" $args 2>&1 >/dev/null); st=$?
    [ $st -eq 1 ] || fail "'$args' exited $st"
    [ "$err" = "Usage: $KIV [-nosound] [-mousespeed num] [-window]" ] || fail "'$args' printed '$err'"
done
err=$("$KIV" "" 2>&1 >/dev/null)
[ "$err" = "Usage: $KIV [-nosound] [-mousespeed num] [-window]" ] || fail "an empty argument printed '$err'"
[ ! -e kiv.prf ] || fail "a usage error wrote kiv.prf"

# The last picture missing: reported after the other 47 loaded, nothing written.
mkdir -p broken/images && ln -s "$SRC"/images/*.png broken/images/ && rm broken/images/cursor.png
printf '\0\0\0\7' >broken/kiv.prf
err=$(cd broken && SDL_VIDEODRIVER=dummy "$KIV" -window -nosound 2>&1 >/dev/null); st=$?
[ $st -eq 1 ] && [ "$err" = "Unable to load: images/cursor.png" ] || fail "missing cursor.png: $st '$err'"
[ "$(hex_of broken/kiv.prf)" = 00000007 ] || fail "a failed start changed kiv.prf"

start_xvfb
# run <kiv.prf bytes or -> <expected kiv.prf after quitting> <options...>
run() {
    local before=$1 after=$2 wid
    shift 2
    rm -f kiv.prf
    [ "$before" = - ] || printf "$before" >kiv.prf
    tied "$KIV" "$@" 2>"$ART/stderr.txt"
    GAME_PID=$!
    wid=$(wait_window 15 $GAME_PID) || fail "$*: no window: $(cat "$ART/stderr.txt")"
    escape_until_gone "$wid" $GAME_PID 3 || fail "$*: Escape did not end the game"
    [ "$EXIT_STATUS" -eq 1 ] || fail "$*: exit status $EXIT_STATUS"
    [ ! -s "$ART/stderr.txt" ] || fail "$*: printed $(cat "$ART/stderr.txt")"
    [ "$(hex_of kiv.prf)" = "$after" ] || fail "$*: kiv.prf holds $(hex_of kiv.prf), not $after"
    ls | grep -q tmp && fail "$*: a temporary file was left behind"
    [ -z "$(ls -A "$XDG_DATA_HOME" 2>/dev/null)" ] || fail "$*: a run on the title kept $(ls -R "$XDG_DATA_HOME")"
    return 0
}
run - 000f4240 -window -nosound
run '\0\20\0\0' 00100000 -nosound                                   # full screen
run '\0\0\1' ffffffff -nosound -mousespeed 15 -window -mousespeed 99  # a short file reads as -1
run '\0\0\0\5\1\2\3\4' 00000005 -mousespeed -window -nosound        # -window taken as the speed

# Killed at any moment after Escape, the game leaves the old score or the
# new one, never a damaged file.
for i in $(seq 1 20); do
    printf '\0\0\0\11' >kiv.prf
    tied "$KIV" -window -nosound 2>/dev/null
    GAME_PID=$!
    wid=$(wait_window 15 $GAME_PID) || fail "no window in round $i"
    xdo windowfocus --sync "$wid"
    xdo key Escape
    sleep "0.0$((RANDOM % 4))"
    kill -9 $GAME_PID 2>/dev/null
    wait $GAME_PID 2>/dev/null
    [ "$(hex_of kiv.prf)" = 00000009 ] || fail "round $i: kiv.prf holds $(hex_of kiv.prf)"
    rm -f kiv.prf.*.tmp
done

# A signal to end the game is a closed window: status 1, kiv.prf written
# (a short one read as -1 becomes ffffffff), the run kept as a replay once a
# game was begun.
for sig in TERM INT HUP; do
    printf '\0\0\1' >kiv.prf
    rm -rf "$XDG_DATA_HOME"
    # As from a terminal: a job in the background of a script ignores SIGINT.
    tied env --default-signal=INT "$KIV" -window -nosound 2>"$ART/stderr.txt"
    GAME_PID=$!
    wid=$(wait_window 15 $GAME_PID) || fail "SIG$sig: no window: $(cat "$ART/stderr.txt")"
    start_game "sig$sig" || fail "SIG$sig: no game began"
    kill -s $sig $GAME_PID
    wait_exit $GAME_PID 5 || fail "SIG$sig did not end the game"
    [ "$EXIT_STATUS" -eq 1 ] && [ ! -s "$ART/stderr.txt" ] || fail "SIG$sig: $EXIT_STATUS $(cat "$ART/stderr.txt")"
    [ "$(hex_of kiv.prf)" = ffffffff ] || fail "SIG$sig: kiv.prf holds $(hex_of kiv.prf)"
    "$BUILD/kiv-verify" "$XDG_DATA_HOME"/kiv/replays/kiv-*.rec >"$ART/verified.txt" 2>&1 ||
        fail "SIG$sig: the run's replay: $(cat "$ART/verified.txt")"
done

# Full screen as a window manager makes it, also with none (a kiosk, a bare
# X server): the whole picture scaled to fit, centred, black bars beside it.
# Then the X server goes away: the game quits at once as from a closed
# window, kiv.prf written (a short file read as -1 becomes ffffffff).
full_screen() {   # WxH [wm]
    local w=${1%x*} h=${1#*x} s ox oy bars name=full-$1${2:-} i ok bar wid
    start_xvfb "$1"
    if [ -n "${2:-}" ]; then
        tied openbox >"$ART/openbox.txt" 2>&1
        for i in $(seq 1 200); do
            xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q '# 0x' && break
            [ "$i" -lt 200 ] || fail "openbox did not start: $(cat "$ART/openbox.txt")"
            sleep 0.05
        done
    fi
    printf '\0\0\1' >kiv.prf
    tied "$KIV" -nosound 2>"$ART/stderr.txt"
    GAME_PID=$!
    wid=$(wait_window 15 $GAME_PID) || fail "$name: no window: $(cat "$ART/stderr.txt")"
    # at X Y W H: where a rectangle of the picture is on the screen
    s=$(( w * 3 < h * 4 ? w * 1000 / 640 : h * 1000 / 480 ))
    ox=$(( (w - 640 * s / 1000) / 2 )) oy=$(( (h - 480 * s / 1000) / 2 ))
    at() { echo "$(($3 * s / 1000))x$(($4 * s / 1000))+$((ox + $1 * s / 1000))+$((oy + $2 * s / 1000))"; }
    if [ $ox -gt 0 ]; then bars="${ox}x$h+0+0 ${ox}x$h+$((w - ox))+0"; else bars="${w}x$oy+0+0 ${w}x$oy+0+$((h - oy))"; fi
    for i in $(seq 1 30); do
        shot "$name"
        # the title's panel strips left and right of the logo, the bars, and
        # the keyboard given to the game
        ok=1
        [ "$(share "$name" "$(at 2 82 36 88)")" -ge 900 ] && [ "$(share "$name" "$(at 402 82 236 88)")" -ge 900 ] || ok=0
        for bar in $bars; do [ "$(share "$name" "$bar" 0,0,0)" -ge 999 ] || ok=0; done
        [ "$(xdo getwindowfocus)" = "$wid" ] || ok=0
        [ $ok = 1 ] && break
        [ "$i" -lt 30 ] || fail "$name: not the whole title scaled and centred, or no keyboard (see $ART/$name.png)"
        sleep 0.3
    done
    kill "$XVFB_PID"
    wait_exit $GAME_PID 5 || fail "$name: the game outlived its X server"
    [ "$EXIT_STATUS" -eq 1 ] || fail "$name: exit status $EXIT_STATUS after the X server went away"
    [ "$(cat "$ART/stderr.txt")" = "Lost the display $DISPLAY" ] || fail "$name: printed $(cat "$ART/stderr.txt")"
    [ "$(hex_of kiv.prf)" = ffffffff ] || fail "$name: kiv.prf holds $(hex_of kiv.prf)"
}
full_screen 1920x1080
full_screen 1280x1024
full_screen 1920x1080 wm
echo PASS
