# Shared helpers of the end-to-end tests: a private X server, a scratch
# working directory holding the game's data, and small waits.
# Usage: . lib/xvfb.sh; then start_xvfb, make_workdir, wait_window ...

fail() { echo "FAIL: $*" >&2; exit 1; }

# Starts Xvfb on a free display; exports DISPLAY. Stopped at exit.
start_xvfb() {
    command -v Xvfb >/dev/null || fail "Xvfb is not installed"
    local n
    for n in $(seq 90 140); do
        [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] && continue
        Xvfb :$n -screen 0 ${XVFB_SCREEN:-640x480x24} -nolisten tcp >/dev/null 2>&1 &
        XVFB_PID=$!
        for _ in $(seq 1 50); do
            if [ -e /tmp/.X11-unix/X$n ]; then
                export DISPLAY=:$n
                trap 'stop_all' EXIT
                return 0
            fi
            kill -0 $XVFB_PID 2>/dev/null || break
            sleep 0.1
        done
    done
    fail "could not start Xvfb"
}

stop_all() {
    [ -n "${GAME_PID:-}" ] && kill -9 $GAME_PID 2>/dev/null
    [ -n "${XVFB_PID:-}" ] && kill $XVFB_PID 2>/dev/null
    [ -n "${WORKDIR:-}" ] && [ -z "${KEEP_WORKDIR:-}" ] && rm -rf "$WORKDIR"
    return 0
}

# A scratch working directory with the game's images and sounds.
make_workdir() {
    WORKDIR=$(mktemp -d /tmp/kiv-e2e-XXXXXX)
    ln -s "$SRC/images" "$WORKDIR/images"
    ln -s "$SRC/sounds" "$WORKDIR/sounds"
}

# Waits up to $2 seconds (default 10) for a window named $1; prints its id.
# Gives up early when process $3, if given, has ended.
wait_window() {
    local name=$1 limit=${2:-10} pid=${3:-} id end
    end=$(( $(date +%s) + limit ))
    while [ "$(date +%s)" -lt "$end" ]; do
        id=$(xdotool search --name "^$name\$" 2>/dev/null | head -n 1)
        if [ -n "$id" ]; then echo "$id"; return 0; fi
        if [ -n "$pid" ] && ! kill -0 "$pid" 2>/dev/null; then return 1; fi
        sleep 0.05
    done
    return 1
}

# Waits up to $2 seconds for process $1 to end; sets EXIT_STATUS.
wait_exit() {
    local pid=$1 limit=${2:-10}
    for _ in $(seq 1 $((limit * 20))); do
        if ! kill -0 "$pid" 2>/dev/null; then
            wait "$pid"
            EXIT_STATUS=$?
            return 0
        fi
        sleep 0.05
    done
    return 1
}

# Hex of a file's bytes, e.g. "000f4240".
hex_of() { od -An -tx1 -v "$1" | tr -d ' \n'; }

# Colour of the screenshot pixel (x, y) as "r,g,b".
pixel_of() {
    convert "$1" -format "%[fx:int(255*p{$2,$3}.r)],%[fx:int(255*p{$2,$3}.g)],%[fx:int(255*p{$2,$3}.b)]" info:
}

# xdotool, tried again when it cannot reach the X server: Xvfb now and then
# drops a new connection while it is busy.
xdo() {
    local i
    for i in 1 2 3 4 5; do
        xdotool "$@" 2>/dev/null && return 0
        sleep 0.1
    done
    xdotool "$@"
}

# The common start of a test: the tools it needs (without Xvfb it is skipped,
# status 77), a fresh folder $ART for its screenshots under the build
# directory, and a scratch working directory to run the game in.
start_e2e() {
    command -v Xvfb >/dev/null 2>&1 || { echo "SKIP: Xvfb is not installed"; exit 77; }
    local tool
    for tool in xdotool import convert; do
        command -v $tool >/dev/null || fail "$tool is not installed"
    done
    ART=$BUILD/e2e-artefacts/$1
    rm -rf "$ART"
    mkdir -p "$ART"
    make_workdir
    cd "$WORKDIR" || fail "no work dir"
}

# Per mille of the pixels in a rectangle (WxH+X+Y) of a screenshot that
# have the panel colour (255, 255, 135).
panel_share() {
    local size=${2%%+*} hits
    hits=$(convert "$1" -crop "$2" +repage -format %c histogram:info:- |
        sed -nE 's/^ *([0-9]+):.*\(255,255,135(,[0-9]+)?\).*/\1/p')
    echo $(( ${hits:-0} * 1000 / (${size%x*} * ${size#*x}) ))
}

# The game pointer follows relative motion only and stops at the screen
# edges. Push the mouse into the top left corner of window $1, where the game
# pointer stops at (0, 0) too, then walk it in small steps onto Start.
walk_to_start() {
    local p i
    for p in 320,240 250,180 180,120 110,60 40,10 0,0 0,0; do
        xdo mousemove --window "$1" "${p%,*}" "${p#*,}"
        sleep 0.05
    done
    sleep 0.2
    for i in $(seq 1 20); do
        xdo mousemove --window "$1" $((i * 520 / 20)) $((i * 316 / 20))
        sleep 0.05
    done
    sleep 0.3
}
