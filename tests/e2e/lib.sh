# Shared by the end-to-end scripts: a private X server, a scratch working
# directory with the game's data, screenshots and waits.
# Usage: KIV=... SRC=... BUILD=...; . lib.sh; start_e2e NAME [x]

fail() { echo "FAIL: $*" >&2; exit 1; }

# Every process the script started ends with it, however it ends.
stop_all() {
    local pids
    pids=$(jobs -p)
    [ -n "$pids" ] && kill -9 $pids 2>/dev/null
    [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null
    [ -n "${WORKDIR:-}" ] && rm -rf "$WORKDIR"
    return 0
}

# The script's own SDL setup, whatever the caller's environment says; the
# game finds the X server by itself (and retries when Xvfb is busy).
clean_env() {
    local v
    for v in $(env | sed -n 's/^\(SDL[A-Za-z0-9_]*\)=.*/\1/p'); do unset "$v"; done
    unset WAYLAND_DISPLAY DISPLAY
}

# Runs a command in the background that is killed when this script dies,
# even when it is killed before its exit trap can run.
tied() { setpriv --pdeathsig KILL "$@" & }

# Starts Xvfb with a screen of $1 (640x480 unless given) on a free display,
# in place of the one started before, and exports DISPLAY. Not reset when
# its last client leaves: the mouse stays where a test put it.
start_xvfb() {
    command -v Xvfb >/dev/null || fail "Xvfb is not installed"
    local n fd
    [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null
    fd=$(mktemp /tmp/kiv-display-XXXXXX)
    tied Xvfb -displayfd 3 -screen 0 "${1:-640x480}x24" -nolisten tcp -noreset 3>"$fd" >/dev/null 2>&1
    XVFB_PID=$!
    for _ in $(seq 1 200); do
        n=$(cat "$fd")
        [ -n "$n" ] && { rm -f "$fd"; export DISPLAY=:$n; return 0; }
        sleep 0.05
    done
    rm -f "$fd"
    fail "could not start Xvfb"
}

# NAME: artefacts go to $BUILD/e2e-artefacts/NAME; "x" also starts Xvfb.
start_e2e() {
    trap stop_all EXIT
    clean_env
    ART=$BUILD/e2e-artefacts/$1
    rm -rf "$ART" && mkdir -p "$ART" || fail "no artefact folder"
    WORKDIR=$(mktemp -d /tmp/kiv-e2e-XXXXXX) || fail "no scratch folder"
    # The replays of the game's runs go there too, not to the caller's home.
    export XDG_DATA_HOME=$WORKDIR/data
    ln -s "$SRC/images" "$WORKDIR/images"
    ln -s "$SRC/sounds" "$WORKDIR/sounds"
    cd "$WORKDIR" || fail "no work dir"
    [ "${2:-}" = x ] && start_xvfb
    return 0
}

# A command that connects to the X server, tried again: Xvfb now and then
# drops a new connection when busy.
retried() {
    local i
    for i in 1 2 3 4 5; do
        "$@" 2>/dev/null && return 0
        sleep 0.1
    done
    "$@"
}
xdo() { retried xdotool "$@"; }

# Waits up to $1 seconds for the window "Kiv" (or one whose name matches $3)
# while process $2 lives; prints its id.
wait_window() {
    local end=$((SECONDS + $1)) id
    while [ $SECONDS -lt $end ] && kill -0 "$2" 2>/dev/null; do
        id=$(xdotool search --name "${3:-^Kiv\$}" 2>/dev/null | head -n 1)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.05
    done
    return 1
}

# Waits up to $2 seconds for process $1 to end; sets EXIT_STATUS.
wait_exit() {
    local end=$((SECONDS + $2))
    while [ $SECONDS -lt $end ]; do
        if ! kill -0 "$1" 2>/dev/null; then
            wait "$1"
            EXIT_STATUS=$?
            return 0
        fi
        sleep 0.05
    done
    return 1
}

# Sends Escape to window $1 until process $2 has ended (at most $3 presses).
escape_until_gone() {
    local i
    for i in $(seq 1 "${3:-1}"); do
        xdo windowfocus --sync "$1"
        xdo key Escape
        wait_exit "$2" 5 && return 0
    done
    return 1
}

hex_of() { od -An -tx1 -v "$1" | tr -d ' \n'; }

# A screenshot of the whole screen, or of the window $SHOTS_OF when set.
shot() { retried import -window "${SHOTS_OF:-root}" "$ART/$1.png" || fail "no screenshot $1"; }

# Per mille of the pixels in a rectangle (WxH+X+Y) of screenshot $1 that
# have colour $3: the side panel's (255,255,135) unless given.
share() {
    local size=${2%%+*} hits
    hits=$(convert "$ART/$1.png" -crop "$2" +repage -format %c histogram:info:- |
        sed -nE "s/^ *([0-9]+):.*\\(${3:-255,255,135}(,[0-9]+)?\\).*/\\1/p")
    echo $(( ${hits:-0} * 1000 / (${size%x*} * ${size#*x}) ))
}

# Which screen a screenshot shows: the full-height side panel while playing,
# the panel strip at the top right on the title, neither on the game-over screen.
screen_of() {
    if [ "$(share "$1" 45x480+595+0)" -ge 900 ]; then echo playing
    elif [ "$(share "$1" 240x92+400+80)" -ge 900 ]; then echo title
    else echo over; fi
}

# Takes screenshots named $2-N for up to $1 seconds until the rest of the
# arguments, a command given the screenshot's name, holds; keeps that one as $2.
wait_shot() {
    local end=$((SECONDS + $1)) name=$2 i=0
    shift 2
    while [ $SECONDS -lt $end ]; do
        i=$((i + 1))
        shot "$name-$i"
        "$@" "$name-$i" && { cp "$ART/$name-$i.png" "$ART/$name.png"; return 0; }
        sleep 0.3
    done
    return 1
}
is_screen() { [ "$(screen_of "$2")" = "$1" ]; }
# Every pixel of the game's pointer is drawn with its tip at ($1, $2) of screenshot $3.
has_pointer() {
    [ "$(convert "$ART/$3.png" -crop "16x24+$1+$2" +repage \( +clone \( "$SRC/images/cursor.png" -transparent blue \) \
        -composite \) -metric AE -compare -format '%[distortion]' info:)" = 0 ]
}
# Waits up to $2 seconds for screen $1, taking screenshots named $3-N.
wait_screen() { wait_shot "$2" "$3" is_screen "$1"; }
# Waits up to $3 seconds for the game's pointer at ($1, $2) (the title draws
# it over everything else), taking screenshots named $4-N.
pointer_at() { wait_shot "$3" "$4" has_pointer "$1" "$2"; }

# Moves the game's pointer to ($1, $2). In window $wid it is where the mouse
# is: the mouse jumps there in three moves. Full screen ($3 = fs, speed 3)
# it follows the mouse's motion only: pushed into the top left corner (in
# frames of its own), then walked there.
walk_to() {
    local i x=0 y=0 nx ny
    if [ "${3:-}" != fs ]; then
        for i in 1 2 3; do xdo mousemove --window "$wid" $((i * $1 / 3)) $((i * $2 / 3)); sleep 0.05; done
        return 0
    fi
    for i in 1 2 3 4; do xdo mousemove_relative -- -400 -400; sleep 0.05; done
    sleep 0.2
    for i in $(seq 1 20); do
        nx=$((i * $1 / 60)) ny=$((i * $2 / 60))
        xdo mousemove_relative -- $((nx - x)) $((ny - y))
        x=$nx y=$ny
        sleep 0.05
    done
}

# Walks the pointer onto Start (full screen with $2 = fs) and holds the
# button there until the game begins; on a busy machine the push may not
# have been taken, and the whole is tried again. Screenshots are named $1-N.
start_game() {
    local try
    for try in 1 2 3; do
        walk_to 519 315 "${2:-}"
        xdo mousedown 1
        wait_screen playing 5 "$1" && { xdo mouseup 1; return 0; }
        xdo mouseup 1
    done
    return 1
}
