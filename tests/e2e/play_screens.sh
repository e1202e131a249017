#!/bin/bash
# The real game under Xvfb, played with the mouse: Start from the title, a
# pan that keeps scooping balls up from the bottom, screenshots of the play
# (balls, pan, score and, once the game has lasted long enough, the special
# events), the loss of a ball, the game-over screen and the return to the
# title. Screenshots are kept under <build-dir>/e2e-artefacts/play_screens.
# Usage: play_screens.sh <kiv-binary> <source-dir> <build-dir>
set -u
KIV=$1 SRC=$2 BUILD=$3
if ! command -v Xvfb >/dev/null 2>&1; then
    echo "SKIP: Xvfb is not installed"
    exit 77
fi
. "$(dirname "$0")/lib/xvfb.sh"
for tool in xdotool import convert; do
    command -v $tool >/dev/null || fail "$tool is not installed"
done
ART=$BUILD/e2e-artefacts/play_screens
rm -rf "$ART"
mkdir -p "$ART"
make_workdir
cd "$WORKDIR" || fail "no work dir"

# Per mille of the pixels in a rectangle (WxH+X+Y) of a screenshot that
# have the panel colour (255, 255, 135).
panel_share() {
    local pixels total hits
    pixels=$(convert "$1" -crop "$2" +repage txt:-) || { echo 0; return; }
    total=$(grep -c '^[0-9]' <<<"$pixels")
    hits=$(grep -c '(255,255,135)' <<<"$pixels")
    [ "$total" -gt 0 ] || { echo 0; return; }
    echo $((hits * 1000 / total))
}

# The screen a screenshot shows: the full-height side panel while playing
# (and in the short ending), the panel strip at the top right on the title,
# neither on the game-over screen.
screen_of() {
    if [ "$(panel_share "$1" 45x480+595+0)" -ge 900 ]; then
        echo playing
    elif [ "$(panel_share "$1" 240x92+400+80)" -ge 900 ]; then
        echo title
    else
        echo over
    fi
}

shot() { import -window root "$ART/$1.png" || fail "no screenshot $1"; }

start_xvfb
"$KIV" -window -nosound >"$ART/kiv-output.txt" 2>&1 &
GAME_PID=$!
wid=$(wait_window Kiv 15) || fail "no window named Kiv"
sleep 1
shot 01-title
[ "$(screen_of "$ART/01-title.png")" = title ] || fail "the game did not start on the title"

# The game pointer moves by relative motion only and stops at the edges:
# push it into the top left corner, then walk onto Start and hold the button.
for p in 320,240 250,180 180,120 110,60 40,10 0,0 0,0; do
    xdotool mousemove --window "$wid" "${p%,*}" "${p#*,}"
    sleep 0.05
done
sleep 0.2
for i in $(seq 1 20); do
    xdotool mousemove --window "$wid" $((i * 520 / 20)) $((i * 316 / 20))
    sleep 0.05
done
sleep 0.3
xdotool mousedown 1
sleep 0.4
xdotool mouseup 1
t_start=$(date +%s%N)
shot 02-start
[ "$(screen_of "$ART/02-start.png")" = playing ] || fail "Start did not begin a game"

# Play: the pan dives to the bottom edge and scoops upward and to the right,
# column after column across the field, as fast as xdotool goes. Balls in the slow
# bottom zone are thrown up again (or out to the right, which scores), which
# keeps a game going for a while without looking at the screen.
cycle=()
for c in 40 140 240 340 440 540; do
    cycle+=(mousemove --window "$wid" $c 479 sleep 0.01 mousemove --window "$wid" $((c + 40)) 329 sleep 0.01)
done
# Screenshots between cycles would always catch the pan at the same place:
# every other cycle stops half way across.
half=("${cycle[@]:0:$((${#cycle[@]} / 2))}")

n=2 state=playing played_ms=0
while [ "$state" = playing ]; do
    elapsed_ms=$(( ($(date +%s%N) - t_start) / 1000000 ))
    [ $elapsed_ms -lt 40000 ] || break
    if [ $((n % 2)) = 0 ]; then xdotool "${cycle[@]}"; else xdotool "${half[@]}"; fi
    n=$((n + 1))
    name=$(printf '%02d-play-%05dms' $n $(( ($(date +%s%N) - t_start) / 1000000 )))
    shot "$name"
    state=$(screen_of "$ART/$name.png")
    [ "$state" = playing ] && played_ms=$(( ($(date +%s%N) - t_start) / 1000000 ))
done
echo "played for about $played_ms ms (events can first come after about 14400 ms)"

# Still playing after 40 s: leave the pan in a corner until a ball is lost.
if [ "$state" = playing ]; then
    xdotool mousemove --window "$wid" 639 0
    for _ in $(seq 1 40); do
        sleep 0.5
        n=$((n + 1))
        name=$(printf '%02d-idle' $n)
        shot "$name"
        state=$(screen_of "$ART/$name.png")
        [ "$state" = playing ] || break
    done
fi
[ "$state" != playing ] || fail "the game did not end with the pan parked"

# The game-over screen lasts 3.6 s (or until a click) before the title.
if [ "$state" != over ]; then
    fail "the title came back without a game-over screen being seen"
fi
cp "$ART/$name.png" "$ART/game-over.png"
back=0
for _ in $(seq 1 16); do
    sleep 0.5
    shot back-to-title
    if [ "$(screen_of "$ART/back-to-title.png")" = title ]; then back=1; break; fi
done
[ $back = 1 ] || fail "the game-over screen did not return to the title"

xdotool windowfocus --sync "$wid" 2>/dev/null
xdotool key Escape
wait_exit $GAME_PID 10 || fail "Escape on the title did not end the game"
GAME_PID=
[ $EXIT_STATUS -eq 1 ] || fail "exit status $EXIT_STATUS"
echo "PASS (screenshots in $ART)"
