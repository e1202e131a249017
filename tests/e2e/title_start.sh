#!/bin/bash
# The real game under Xvfb: the title comes up, holding the left button over
# Start begins a game (the side panel appears at the right edge), and two
# Escape presses end the program with status 1 and a written kiv.prf.
# Usage: title_start.sh <kiv-binary> <source-dir> <build-dir>
set -u

kiv=$1
src=$2
build=$3

if ! command -v Xvfb >/dev/null 2>&1; then
    echo "SKIP: Xvfb is not installed"
    exit 77
fi
for tool in xdotool import convert; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "FAIL: $tool is not installed"
        exit 1
    fi
done

art=$build/e2e_title_start
rm -rf "$art"
mkdir -p "$art"
work=$(mktemp -d /tmp/kiv_title_start.XXXXXX)
ln -s "$src/images" "$work/images"
ln -s "$src/sounds" "$work/sounds"

xvfb_pid=
kiv_pid=
cleanup() {
    [ -n "$kiv_pid" ] && kill "$kiv_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*"
    [ -s "$art/kiv.log" ] && { echo "--- kiv output:"; cat "$art/kiv.log"; }
    exit 1
}

# A free display number: no lock file and no socket.
display=
for n in $(seq 91 140); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
        Xvfb ":$n" -screen 0 640x480x24 -nolisten tcp >"$art/xvfb.log" 2>&1 &
        xvfb_pid=$!
        for _ in $(seq 50); do
            [ -e "/tmp/.X11-unix/X$n" ] && break
            kill -0 "$xvfb_pid" 2>/dev/null || break
            sleep 0.1
        done
        if [ -e "/tmp/.X11-unix/X$n" ] && kill -0 "$xvfb_pid" 2>/dev/null; then
            display=:$n
            break
        fi
        kill "$xvfb_pid" 2>/dev/null
        wait "$xvfb_pid" 2>/dev/null
        xvfb_pid=
    fi
done
[ -n "$display" ] || fail "could not start Xvfb"
export DISPLAY=$display
unset SDL_VIDEODRIVER SDL_AUDIODRIVER

(cd "$work" && exec "$kiv" -window -nosound) >"$art/kiv.log" 2>&1 &
kiv_pid=$!

window=
for _ in $(seq 100); do
    window=$(xdotool search --name '^Kiv$' 2>/dev/null | head -n 1)
    [ -n "$window" ] && break
    kill -0 "$kiv_pid" 2>/dev/null || fail "kiv ended before its window appeared"
    sleep 0.1
done
[ -n "$window" ] || fail "no window named Kiv after 10 s"
sleep 1

# Fraction (per thousand) of pixels in a rectangle that have the panel
# colour (255, 255, 135).
panel_share() {
    local file=$1 geometry=$2 total hits
    total=$(convert "$file" -crop "$geometry" +repage txt:- | grep -c '^[0-9]')
    hits=$(convert "$file" -crop "$geometry" +repage txt:- | grep -c '(255,255,135)')
    [ "$total" -gt 0 ] || { echo 0; return; }
    echo $((hits * 1000 / total))
}

import -window root "$art/title.png" || fail "screenshot of the title failed"
# The title: the right strip (400..639, 80..171) is in the panel colour, the
# part of the right edge above it is not.
strip=$(panel_share "$art/title.png" 240x92+400+80)
top=$(panel_share "$art/title.png" 45x60+595+10)
echo "title: right strip ${strip} per mille panel colour, top right corner ${top}"
[ "$strip" -ge 900 ] || fail "the title's right strip is not drawn (${strip})"
[ "$top" -le 100 ] || fail "the top right corner is panel coloured on the title (${top})"

# The game pointer follows relative motion only. Push the mouse into the top
# left corner first, where the game pointer stops at (0, 0) as well, then
# walk it in small steps to the middle of the Start button's region.
xdotool mousemove --window "$window" 320 240
sleep 0.2
for p in 250,180 180,120 110,60 40,10 0,0; do
    xdotool mousemove --window "$window" "${p%,*}" "${p#*,}"
    sleep 0.05
done
sleep 0.2
for i in $(seq 1 20); do
    xdotool mousemove --window "$window" $((i * 520 / 20)) $((i * 316 / 20))
    sleep 0.05
done
sleep 0.3
import -window root "$art/title_over_start.png"
xdotool mousedown 1
sleep 0.4
import -window root "$art/playing_1.png"
sleep 0.3
import -window root "$art/playing_2.png"
xdotool mouseup 1

playing=0
for shot in playing_1 playing_2; do
    side=$(panel_share "$art/$shot.png" 45x480+595+0)
    echo "$shot: side panel ${side} per mille panel colour"
    [ "$side" -ge 900 ] && playing=1
done
[ "$playing" = 1 ] || fail "no playing frame with the side panel after clicking Start"

# Escape leaves the game for the title, the second one quits.
xdotool windowfocus "$window" 2>/dev/null
xdotool key --window "$window" Escape
sleep 0.3
import -window root "$art/after_escape.png"
xdotool key --window "$window" Escape
for _ in $(seq 50); do
    kill -0 "$kiv_pid" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$kiv_pid" 2>/dev/null && fail "kiv still runs after two Escape presses"
wait "$kiv_pid"
status=$?
kiv_pid=
[ "$status" = 1 ] || fail "exit status $status, expected 1"
[ -f "$work/kiv.prf" ] || fail "kiv.prf was not written"
size=$(stat -c %s "$work/kiv.prf")
[ "$size" = 4 ] || fail "kiv.prf has $size bytes"
echo "PASS: title, Start, playing, Escape twice, status 1 (screenshots in $art)"
exit 0
