#!/bin/bash
# The real game under Xvfb, played with the mouse: Start from the title, a
# pan swept back and forth low over the field, which keeps balls in play long
# enough for the special events to come, screenshots of the play (balls, pan,
# score and at least one special event), the loss of a ball, the game-over
# screen and the return to the title. A game that ends before any event is
# shown is followed by another one, within a time limit.
# Screenshots are kept under <build-dir>/e2e-artefacts/play_screens; with
# KIV_UPDATE_DOCS=1 the best three are also copied into docs/screenshots.
# Usage: play_screens.sh <kiv-binary> <source-dir> <build-dir>
set -u
KIV=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
SRC=$(cd "$2" && pwd) BUILD=$(cd "$3" && pwd)
. "$(dirname "$0")/lib/xvfb.sh"
start_e2e play_screens

PLAY_LIMIT_MS=${KIV_PLAY_LIMIT_MS:-90000}   # all games together
SWEEP_Y=440                # low, where balls slow down and settle
SWEEP_LEFT=30 SWEEP_RIGHT=560 SWEEP_STEP=3
EVENT_PIXELS=25            # event-only pixels that make a screenshot an event one

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

# The colours ("r,g,b", one a line) of a set of pictures.
colours_of() {
    local f
    for f in "$@"; do
        convert "$SRC/images/$f" -format %c histogram:info:- |
            sed -nE 's/.*\(([0-9]+),([0-9]+),([0-9]+)(,[0-9]+)?\).*/\1,\2,\3/p'
    done | sort -u
}

# Colours that only the special events and their appearance pictures use:
# nothing else drawn during play (balls, pan, score digits, pips, bars) has
# them. Some of them belong to the appearance pictures alone.
colours_of fire.png vlcn.png tree.png vcnt.png clud.png watg.png >"$ART/event-colours.txt"
colours_of pr0.png pr2.png pr4.png pr6.png >"$ART/appear-colours.txt"
colours_of $(cd "$SRC/images" && ls ball_*.png [0-9]s.png xs.png pp*s.png \
    panh.png panv.png bar*.png) >"$ART/play-colours.txt"
sort -u "$ART/event-colours.txt" "$ART/appear-colours.txt" |
    comm -23 - "$ART/play-colours.txt" >"$ART/event-only.txt"
sort -u "$ART/event-colours.txt" "$ART/play-colours.txt" |
    comm -13 - "$ART/appear-colours.txt" >"$ART/appear-only.txt"
[ "$(wc -l <"$ART/event-only.txt")" -ge 20 ] ||
    fail "the event pictures have too few colours of their own to be recognised"

# Pixels of the playfield in a screenshot that have an event-only colour,
# and how many of those belong to the appearance pictures alone.
event_pixels() {
    convert "$1" -crop 595x480+0+0 +repage -format %c histogram:info:- |
        sed -nE 's/^ *([0-9]+):.*\(([0-9]+),([0-9]+),([0-9]+)(,[0-9]+)?\).*/\1 \2,\3,\4/p' |
        awk 'FILENAME == ARGV[1] { only[$1] = 1; next }
             FILENAME == ARGV[2] { appear[$1] = 1; next }
             ($2 in only) { n += $1 } ($2 in appear) { a += $1 }
             END { print n + 0, a + 0 }' "$ART/event-only.txt" "$ART/appear-only.txt" -
}

shot() { import -window root "$ART/$1.png" || fail "no screenshot $1"; }
now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

start_xvfb
"$KIV" -window -nosound >"$ART/kiv-output.txt" 2>&1 &
GAME_PID=$!
wid=$(wait_window Kiv 15) || fail "no window named Kiv"
sleep 1.2
shot title
[ "$(screen_of "$ART/title.png")" = title ] || fail "the game did not start on the title"

SWEEP_PID=
stop_sweep() {
    [ -n "$SWEEP_PID" ] && kill "$SWEEP_PID" 2>/dev/null && wait "$SWEEP_PID" 2>/dev/null
    SWEEP_PID=
}
trap 'stop_sweep; stop_all' EXIT

# Walk onto Start and hold the button.
press_start() {
    walk_to_start "$wid"
    xdo mousedown 1
    sleep 0.4
    xdo mouseup 1
}

# One xdotool process sweeps the pan for the rest of the time allowed: 3
# pixels every 10 ms along the bottom, from one side to the other and back.
start_sweep() {
    local moves=() x i cycles
    for i in 1 2 3 4 5 6 7 8; do   # from Start down to the left end of the sweep
        moves+=(mousemove --window "$wid" $((520 + i * (SWEEP_LEFT - 520) / 8)) \
            $((316 + i * (SWEEP_Y - 316) / 8)) sleep 0.02)
    done
    cycles=$(( $1 / ((SWEEP_RIGHT - SWEEP_LEFT) * 2 / SWEEP_STEP * 10) + 1 ))
    for i in $(seq 1 $cycles); do
        for x in $(seq $SWEEP_LEFT $SWEEP_STEP $SWEEP_RIGHT) \
                 $(seq $SWEEP_RIGHT -$SWEEP_STEP $SWEEP_LEFT); do
            moves+=(mousemove --window "$wid" $x $SWEEP_Y sleep 0.01)
        done
    done
    xdotool "${moves[@]}" &
    SWEEP_PID=$!
}

# Games until one shows a special event. Screenshots about every second.
t_begin=$(now_ms)
game=0 event_shots=0 best_event=-1000000 state=title played_ms=0
while :; do
    game=$((game + 1))
    press_start
    t_start=$(now_ms)
    name=$(printf 'g%d-00-start' $game)
    shot "$name"
    [ "$(screen_of "$ART/$name.png")" = playing ] || fail "Start did not begin game $game"
    start_sweep $((PLAY_LIMIT_MS - (t_start - t_begin)))
    state=playing n=0
    while [ "$state" = playing ]; do
        # Enough event screenshots, or out of time: let the game end.
        [ $event_shots -lt 3 ] || break
        [ $(( $(now_ms) - t_begin )) -lt $PLAY_LIMIT_MS ] || break
        sleep 0.4
        n=$((n + 1))
        name=$(printf 'g%d-%02d-play-%05dms' $game $n $(( $(now_ms) - t_start )))
        shot "$name"
        state=$(screen_of "$ART/$name.png")
        [ "$state" = playing ] || break
        played_ms=$(( $(now_ms) - t_start ))
        read -r px appear_px < <(event_pixels "$ART/$name.png")
        if [ "$px" -ge $EVENT_PIXELS ]; then
            event_shots=$((event_shots + 1))
            mv "$ART/$name.png" "$ART/$name-event.png"
            echo "game $game: a special event after $played_ms ms" \
                "($px event pixels, $appear_px of them still appearing)"
            # The picture of the play: most of an event in full play.
            if [ $((px - 2 * appear_px)) -gt "$best_event" ]; then
                best_event=$((px - 2 * appear_px))
                cp "$ART/$name-event.png" "$ART/play.png"
            fi
        fi
    done
    stop_sweep
    echo "game $game: played for about $played_ms ms"
    [ $event_shots -eq 0 ] || break
    [ "$state" != playing ] || break   # out of time in a game without events
    # Lost before any event: back to the title for another game.
    [ $(( $(now_ms) - t_begin )) -lt $((PLAY_LIMIT_MS - 20000)) ] || break
    for _ in $(seq 1 16); do
        sleep 0.5
        shot "g$game-to-title"
        state=$(screen_of "$ART/g$game-to-title.png")
        [ "$state" = title ] && break
    done
    [ "$state" = title ] || fail "game $game did not go back to the title"
done
[ $event_shots -gt 0 ] || fail "no special event was seen in $game game(s) within $PLAY_LIMIT_MS ms"

# Still playing: leave the pan in a corner until a ball is lost.
if [ "$state" = playing ]; then
    xdo mousemove --window "$wid" 639 0
    for i in $(seq 1 40); do
        sleep 0.5
        name=$(printf 'g%d-idle-%02d' $game $i)
        shot "$name"
        state=$(screen_of "$ART/$name.png")
        [ "$state" = playing ] || break
    done
fi
[ "$state" != playing ] || fail "the game did not end with the pan parked"

# The game-over screen lasts 3.6 s (or until a click) before the title; its
# caption flies in within a third of a second and then rests.
[ "$state" = over ] || fail "the title came back without a game-over screen being seen"
sleep 0.6
shot game-over
[ "$(screen_of "$ART/game-over.png")" = over ] ||
    fail "the game-over screen lasted less than a second"
back=0
for _ in $(seq 1 16); do
    sleep 0.5
    shot back-to-title
    if [ "$(screen_of "$ART/back-to-title.png")" = title ]; then back=1; break; fi
done
[ $back = 1 ] || fail "the game-over screen did not return to the title"

xdo windowfocus --sync "$wid" 2>/dev/null
xdo key Escape
wait_exit $GAME_PID 10 || fail "Escape on the title did not end the game"
GAME_PID=
[ $EXIT_STATUS -eq 1 ] || fail "exit status $EXIT_STATUS"

if [ "${KIV_UPDATE_DOCS:-0}" = 1 ]; then
    bash "$SRC/tests/e2e/lib/update-screenshots.sh" "$ART" "$SRC/docs/screenshots" ||
        fail "could not update the screenshots in docs"
fi
echo "PASS ($event_shots event screenshot(s) in $game game(s); screenshots in $ART)"
