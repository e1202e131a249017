#!/bin/bash
# Frame-time benchmark of the real kiv binary under Xvfb.
#
#   bash bench/frame_time.sh [BUILD_DIR] [--play SECONDS] [--hints] [--quick]
#                            [--run LABEL 'VAR=value ...']...
#
# Each run starts `kiv -window -nosound` (or with sound on SDL's disk audio
# driver) with the kiv_probe library preloaded, holds the left button on
# Start, moves the mouse about as a player would for --play seconds (20),
# takes a snapshot (the probe holds the game still on the frame it just
# presented; the screenshot of the window must equal the game's own 8-bit
# screen through its palette), then presses Escape twice. It prints, per run:
# time from exec to the first presented frame, frames per second, frame time
# median / p99 / max, CPU seconds per second of play (the game's own steps
# and drawing, the present inside SDL_Flip, the whole process, the X server),
# heap allocations per frame after start-up (game code / libraries / other
# threads) and the number of pixels that differ from what the game drew.
#
# The runs: sdl12-compat as installed, with the present path the game picks
# and with SDL's default OpenGL present; Debian's classic SDL 1.2 library
# (downloaded with apt-get download and unpacked beside the build, never
# installed) first on LD_LIBRARY_PATH; sdl12-compat and classic with sound.
# --hints adds runs with single SDL hints set in the environment; --quick
# only runs the three silent ones; --run adds a silent run of your own (its
# label and the environment assignments it runs with).
#
# This is a benchmark, not a test: it prints figures and asserts nothing.
set -u
SRC=$(cd "$(dirname "$0")/.." && pwd)
BUILD=build
case "${1:-}" in ""|--*) ;; *) BUILD=$1; shift ;; esac
case "$BUILD" in /*) ;; *) BUILD=$SRC/$BUILD ;; esac
PLAY=20
HINTS=0
QUICK=0
EXTRA=()
while [ $# -gt 0 ]; do
    case "$1" in
    --play) PLAY=$2; shift 2 ;;
    --hints) HINTS=1; shift ;;
    --quick) QUICK=1; shift ;;
    --run) EXTRA+=("$2|$3"); shift 3 ;;
    *) echo "unknown argument: $1" >&2; exit 2 ;;
    esac
done
# The game's data: the source tree's images/ and sounds/ (BENCH_DATA to use others).
DATA=${BENCH_DATA:-$SRC}

# Build what is needed (configures a fresh build directory first).
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
    cmake -S "$SRC" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 1
fi
cmake --build "$BUILD" -j2 --target kiv kiv_probe >/dev/null || { echo "build failed" >&2; exit 1; }
KIV=$BUILD/kiv
PROBE=$BUILD/bench/kiv_probe.so
[ -f "$PROBE" ] || { echo "no $PROBE" >&2; exit 1; }

. "$SRC/tests/e2e/lib.sh"
OUT=$BUILD/bench-frame-time
mkdir -p "$OUT"

# Debian's classic SDL 1.2, unpacked (not installed) beside the build.
CLASSIC=$BUILD/bench-classic-sdl
classic_lib() {
    local dir=$CLASSIC/usr/lib/x86_64-linux-gnu
    if [ ! -e "$dir/libSDL-1.2.so.0" ]; then
        mkdir -p "$CLASSIC/debs"
        (cd "$CLASSIC/debs" && apt-get download libsdl1.2debian libcaca0 >/dev/null 2>&1)
        for deb in "$CLASSIC"/debs/*.deb; do
            [ -e "$deb" ] && dpkg -x "$deb" "$CLASSIC"
        done
    fi
    [ -e "$dir/libSDL-1.2.so.0" ] || return 1
    if LD_LIBRARY_PATH=$dir ldd "$dir/libSDL-1.2.so.0" | grep -q "not found"; then
        echo "classic SDL 1.2 misses libraries:" >&2
        LD_LIBRARY_PATH=$dir ldd "$dir/libSDL-1.2.so.0" | grep "not found" >&2
        return 1
    fi
    echo "$dir"
}

# CPU seconds (user + system) used so far by process $1.
cpu_of() {
    awk -v hz="$(getconf CLK_TCK)" '{ printf "%.3f", ($14 + $15) / hz }' "/proc/$1/stat" 2>/dev/null || echo 0
}

# Moves the pointer about for $1 seconds: the pan sweeps across the playfield
# and is jerked up now and then to throw what it holds. One xdotool process
# runs the whole script, so the driver itself costs almost nothing.
play_moves() {
    local wid=$1 seconds=$2
    awk -v n=$((seconds * 50)) -v wid="$wid" 'BEGIN {
        for (i = 0; i < n; i++) {
            x = int(300 + 240 * sin(i * 0.045));
            y = int(400 + 30 * sin(i * 0.17));
            if (i % 120 >= 100 && i % 120 < 104) y -= 150;
            printf "mousemove --window %s %d %d sleep 0.02 ", wid, x, y;
        }
    }' | xargs xdotool
}

RESULTS=()
# run LABEL 'VAR=value ...' 'game arguments'
run() {
    local label=$1 envs=$2 args=$3 name
    name=$(echo "$label" | tr -c 'A-Za-z0-9\n' '_')
    local probe_out=$OUT/$name.probe
    rm -f "$probe_out" "$probe_out".ppm "$probe_out".ready
    WORKDIR=$(mktemp -d /tmp/kiv-bench-XXXXXX)
    ln -s "$DATA/images" "$WORKDIR/images"
    ln -s "$DATA/sounds" "$WORKDIR/sounds"
    local t_exec
    t_exec=$(date +%s%N)
    (cd "$WORKDIR" && exec env $envs KIV_PROBE_OUT="$probe_out" LD_PRELOAD="$PROBE" "$KIV" $args \
        >"$OUT/$name.stdout" 2>"$OUT/$name.stderr") &
    GAME_PID=$!
    local wid
    if ! wid=$(wait_window 20 $GAME_PID); then
        echo "$label: no window (see $OUT/$name.stderr)" >&2
        kill -9 $GAME_PID 2>/dev/null; GAME_PID=; rm -rf "$WORKDIR"; return
    fi
    local sdl
    sdl=$(grep -o '/[^ ]*libSDL-1\.2\.so[^ ]*' "/proc/$GAME_PID/maps" | sort -u | tr '\n' ' ')
    sleep 1   # the title screen
    local gl_threads
    gl_threads=$(cat /proc/$GAME_PID/task/*/comm 2>/dev/null | grep -c '^llvmpipe')
    xdotool mousemove --window "$wid" 520 316 sleep 0.1 mousedown 1 sleep 0.3 mouseup 1
    local t_start x0 t_end x1
    t_start=$(( $(date +%s%N) + 500000000 ))
    sleep 0.5
    x0=$(cpu_of "$XVFB_PID")
    play_moves "$wid" "$PLAY"
    x1=$(cpu_of "$XVFB_PID")
    t_end=$(date +%s%N)
    # Snapshot: the probe writes the frame it presented and holds the game.
    kill -USR1 $GAME_PID
    for _ in $(seq 1 100); do [ -e "$probe_out.ready" ] && break; sleep 0.05; done
    sleep 0.2
    import -window root "$OUT/$name.png"
    kill -USR1 $GAME_PID
    local pixels="?"
    if [ -e "$probe_out.ppm" ]; then
        local geom
        geom=$(xdotool getwindowgeometry "$wid" | awk '/Position/ { split($2, p, ","); print p[1] "," p[2] }')
        convert "$OUT/$name.png" -crop "640x480+${geom%,*}+${geom#*,}" +repage "$OUT/$name-window.png"
        pixels=$(compare -metric AE "$probe_out.ppm" "$OUT/$name-window.png" null: 2>&1)
    fi
    sleep 0.3
    xdotool key Escape sleep 0.3 key Escape
    if ! wait_exit $GAME_PID 15; then
        echo "$label: did not quit" >&2
        kill -9 $GAME_PID 2>/dev/null
    fi
    GAME_PID=
    rm -rf "$WORKDIR"
    local xcpu figures
    xcpu=$(awk -v a="$x0" -v b="$x1" 'BEGIN { print b - a }')
    figures=$(python3 "$SRC/bench/probe/analyse.py" "$probe_out" "$t_exec" "$t_start" "$t_end" "$xcpu")
    RESULTS+=("$label|$figures pixels_differing=$pixels gl_threads=$gl_threads sdl=$sdl")
    report_one "$label" "$figures pixels_differing=$pixels gl_threads=$gl_threads sdl=$sdl"
}

field() { echo "$1" | tr ' ' '\n' | awk -F= -v k="$2" '$1 == k { print $2 }'; }

report_one() {
    local label=$1 f=$2
    echo "== $label"
    if [ -n "$(field "$f" error)" ]; then echo "   error: $(field "$f" error)"; return; fi
    echo "   SDL library loaded: $(field "$f" sdl)"
    echo "   SDL2 renderer: $(field "$f" renderer); software-GL threads: $(field "$f" gl_threads)"
    echo "   exec to first frame: $(field "$f" first_frame_ms) ms (ms in: $(field "$f" startup))"
    echo "   frames/s: $(field "$f" fps)   frame time ms: median $(field "$f" frame_median_ms)  p99 $(field "$f" frame_p99_ms)  max $(field "$f" frame_max_ms)"
    echo "   CPU s per s of play: game $(field "$f" cpu_game)  present $(field "$f" cpu_present)  whole process $(field "$f" cpu_process)  X server $(field "$f" cpu_xserver)"
    echo "   allocations per frame: game $(field "$f" allocs_game_per_frame)  libraries $(field "$f" allocs_lib_per_frame)  other threads $(field "$f" allocs_other_threads_per_frame)  (start-up: $(field "$f" allocs_startup))"
    echo "   main-thread allocations after start-up by library: $(field "$f" libs)"
    [ "$(field "$f" game_sites)" != "-" ] && echo "   game allocation sites (offset:count, addr2line -e $KIV): $(field "$f" game_sites)"
    echo "   pixels differing from the game's screen: $(field "$f" pixels_differing)"
}

trap stop_all EXIT
start_xvfb
CLASSIC_DIR=$(classic_lib) || CLASSIC_DIR=
SOUND_ENV="SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=/dev/null"

# In a window the game asks for SDL's software renderer on the window's own
# framebuffer (see init_video); GL_PATH is SDL's default, presenting through
# OpenGL, which the game used before.
GL_PATH="SDL_RENDER_DRIVER=opengl SDL_FRAMEBUFFER_ACCELERATION=1"
run "sdl12-compat" "" "-window -nosound"
run "sdl12-compat, OpenGL present" "$GL_PATH" "-window -nosound"
if [ -n "$CLASSIC_DIR" ]; then
    run "classic SDL 1.2" "LD_LIBRARY_PATH=$CLASSIC_DIR" "-window -nosound"
else
    echo "classic SDL 1.2 could not be fetched; skipped" >&2
fi
if [ $QUICK -eq 0 ]; then
    run "sdl12-compat, sound" "$SOUND_ENV" "-window"
    [ -n "$CLASSIC_DIR" ] && run "classic SDL 1.2, sound" "LD_LIBRARY_PATH=$CLASSIC_DIR $SOUND_ENV" "-window"
fi
if [ $HINTS -eq 1 ]; then
    # Each hint on its own, from SDL's default path.
    run "hint SDL_RENDER_DRIVER=software" "SDL_RENDER_DRIVER=software SDL_FRAMEBUFFER_ACCELERATION=1" "-window -nosound"
    run "hint SDL_FRAMEBUFFER_ACCELERATION=0" "SDL_RENDER_DRIVER=opengl SDL_FRAMEBUFFER_ACCELERATION=0" "-window -nosound"
    run "hint SDL12COMPAT_OPENGL_SCALING=0" "$GL_PATH SDL12COMPAT_OPENGL_SCALING=0" "-window -nosound"
    run "hint SDL_RENDER_VSYNC=0" "$GL_PATH SDL_RENDER_VSYNC=0" "-window -nosound"
    run "hint SDL12COMPAT_SYNC_TO_VBLANK=0" "$GL_PATH SDL12COMPAT_SYNC_TO_VBLANK=0" "-window -nosound"
fi
for spec in "${EXTRA[@]}"; do
    IFS='|' read -r label envs <<<"$spec"
    run "$label" "$envs" "-window -nosound"
done

echo
echo "Summary (play window of ${PLAY} s; CPU in seconds per second; allocations per frame)"
printf '%-36s %8s %6s %7s %7s %7s %6s %7s %6s %6s %6s %6s\n' run first_ms fps med_ms p99_ms max_ms game present process Xvfb allocG allocL
for r in "${RESULTS[@]}"; do
    label=${r%%|*}; f=${r#*|}
    printf '%-36s %8s %6s %7s %7s %7s %6s %7s %6s %6s %6s %6s\n' "$label" \
        "$(field "$f" first_frame_ms)" "$(field "$f" fps)" "$(field "$f" frame_median_ms)" \
        "$(field "$f" frame_p99_ms)" "$(field "$f" frame_max_ms)" "$(field "$f" cpu_game)" \
        "$(field "$f" cpu_present)" "$(field "$f" cpu_process)" "$(field "$f" cpu_xserver)" \
        "$(field "$f" allocs_game_per_frame)" "$(field "$f" allocs_lib_per_frame)"
done
echo "Screenshots and probe files: $OUT"
