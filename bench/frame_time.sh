#!/bin/bash
# What the desktop game costs to run, against the game as it was on the SDL
# 1.2 API (commit bfec19f, the last one before the move to SDL2) on Debian's
# classic SDL 1.2 library.
#
#   bash bench/frame_time.sh [BUILD_DIR] [--rounds N] [--play SECONDS] [--paths]
#
# A round runs, one after the other: the game silent, classic silent, the
# game with sound, classic with sound (sound on SDL's disk driver): each the
# real binary in a 640 x 480 window under Xvfb with the probe preloaded
# (bench/probe), a game begun on Start and played with the mouse for
# SECONDS (20), a snapshot, then Escape twice. Each figure is the median of
# the rounds (5). --paths adds the ways of presenting the game does not take
# in a window, once a round: SDL's framebuffer through OpenGL, and the
# renderer's streaming texture (full screen on a 640 x 480 screen), in
# software and through OpenGL.
#
# The classic game is built here, in a worktree of its own at that commit
# (fetched from the clone's origin when the clone lacks it, as a shallow one
# does),
# against the SDL 1.2 development packages fetched with apt-get download and
# unpacked beside it (never installed), and run with those libraries first
# on LD_LIBRARY_PATH. A benchmark, not a test: it prints figures.
set -u
SRC=$(cd "$(dirname "$0")/.." && pwd)
BUILD=build
case "${1:-}" in "" | --*) ;; *) BUILD=$1; shift ;; esac
case "$BUILD" in /*) ;; *) BUILD=$SRC/$BUILD ;; esac
ROUNDS=5 PLAY=20 PATHS=0
while [ $# -gt 0 ]; do
    case "$1" in
    --rounds) ROUNDS=$2; shift 2 ;;
    --play) PLAY=$2; shift 2 ;;
    --paths) PATHS=1; shift ;;
    *) echo "unknown argument: $1" >&2; exit 2 ;;
    esac
done

[ -f "$BUILD/CMakeCache.txt" ] || cmake -S "$SRC" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 1
cmake --build "$BUILD" -j2 --target kiv kiv_probe >/dev/null || { echo "build failed" >&2; exit 1; }
PROBE=$BUILD/bench/kiv_probe.so
OUT=$BUILD/bench-frame-time
mkdir -p "$OUT"
. "$SRC/tests/e2e/lib.sh"

# The game as it was, on classic SDL 1.2: the last commit on the SDL 1.2
# API, named by its hash, which every clone of the history has (tags do not
# travel with a clone).
CLASSIC_COMMIT=bfec19fbbbca678412104b4d34999ef41525cbcf
CLASSIC=$BUILD/bench-classic
ARCH=$(gcc -print-multiarch)
LIBS=$CLASSIC/deps/usr/lib/$ARCH
build_classic() {
    local pkgs="libsdl1.2debian libsdl1.2-dev libsdl-image1.2 libsdl-image1.2-dev libsdl-mixer1.2 libsdl-mixer1.2-dev" p
    if [ ! -e "$LIBS/libSDL-1.2.so.0" ]; then
        # The libraries' own dependencies that this machine lacks come too.
        for p in $(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
            --no-replaces --no-enhances libsdl1.2debian libsdl-image1.2 libsdl-mixer1.2 |
            awk '/^ *Depends: [^<]/ { print $2 }' | sort -u); do
            dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || pkgs="$pkgs $p"
        done
        mkdir -p "$CLASSIC/debs"
        (cd "$CLASSIC/debs" && apt-get download $pkgs) >"$CLASSIC/download.log" 2>&1 ||
            { echo "apt-get download failed (see $CLASSIC/download.log)" >&2; return 1; }
        for p in "$CLASSIC"/debs/*.deb; do dpkg -x "$p" "$CLASSIC/deps"; done
        sed -i "s|^prefix=/usr\$|prefix=$CLASSIC/deps/usr|" "$LIBS"/pkgconfig/*.pc
    fi
    if [ "$(git -C "$CLASSIC/src" rev-parse HEAD 2>/dev/null)" != $CLASSIC_COMMIT ]; then
        mkdir -p "$CLASSIC"
        git -C "$SRC" cat-file -e $CLASSIC_COMMIT^{commit} 2>/dev/null ||
            git -C "$SRC" fetch -q origin $CLASSIC_COMMIT >"$CLASSIC/fetch.log" 2>&1 ||
            { echo "commit $CLASSIC_COMMIT is not in this clone, nor could it be fetched (see $CLASSIC/fetch.log)" >&2
              return 1; }
        rm -rf "$CLASSIC/src" "$CLASSIC/build"
        git -C "$SRC" worktree prune
        git -C "$SRC" worktree add --detach "$CLASSIC/src" $CLASSIC_COMMIT >"$CLASSIC/worktree.log" 2>&1 ||
            { echo "no worktree of commit $CLASSIC_COMMIT (see $CLASSIC/worktree.log)" >&2; return 1; }
    fi
    PKG_CONFIG_PATH=$LIBS/pkgconfig cmake -S "$CLASSIC/src" -B "$CLASSIC/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
        -DKIV_BENCH=OFF >"$CLASSIC/build.log" 2>&1 &&
        cmake --build "$CLASSIC/build" -j2 --target kiv >>"$CLASSIC/build.log" 2>&1 ||
        { echo "the classic game did not build (see $CLASSIC/build.log)" >&2; return 1; }
    if LD_LIBRARY_PATH=$LIBS ldd "$CLASSIC/build/kiv" | grep "not found" >&2; then return 1; fi
    LD_LIBRARY_PATH=$LIBS ldd "$CLASSIC/build/kiv" | grep -q "$LIBS/libSDL-1.2.so.0" ||
        { echo "the classic game does not load $LIBS/libSDL-1.2.so.0" >&2; return 1; }
}

cpu_of() { awk -v hz="$(getconf CLK_TCK)" '{ printf "%.3f", ($14 + $15) / hz }' "/proc/$1/stat" 2>/dev/null || echo 0; }

# The pan swept across the field for $1 seconds, jerked up now and then to
# throw what it holds; one xdotool process runs it all.
play_moves() {
    awk -v n=$(($1 * 50)) -v wid="$wid" 'BEGIN {
        for (i = 0; i < n; i++) {
            x = int(300 + 240 * sin(i * 0.045)); y = int(400 + 30 * sin(i * 0.17));
            if (i % 120 >= 100 && i % 120 < 104) y -= 150;
            printf "mousemove --window %s %d %d sleep 0.02 ", wid, x, y;
        }
    }' | xargs xdotool
}

declare -A FIGURES
LABELS=()
# run LABEL BINARY 'VAR=value ...' 'game arguments': one measured run.
run() {
    local label=$1 binary=$2 envs=$3 args=$4 name probe t_exec figures pixels=- xcpu x0 start
    name=$(echo "$label" | tr -c 'A-Za-z0-9\n' '_')
    probe=$OUT/$name.probe
    rm -f "$probe" "$probe".ppm "$probe".ready
    [[ " ${LABELS[*]} " == *" $name "* ]] || LABELS+=("$name")
    FIGURES[$name.label]=$label
    WORKDIR=$(mktemp -d /tmp/kiv-bench-XXXXXX)
    ln -s "$SRC/images" "$WORKDIR/images" && ln -s "$SRC/sounds" "$WORKDIR/sounds"
    export XDG_DATA_HOME=$WORKDIR/data ART=$OUT
    t_exec=$(date +%s%N)
    (cd "$WORKDIR" && exec env $envs KIV_PROBE_OUT="$probe" LD_PRELOAD="$PROBE" "$binary" $args \
        >"$OUT/$name.log" 2>&1) &
    GAME_PID=$!
    if wid=$(wait_window 20 $GAME_PID) && sleep 1 &&
        start_game "$name-start" "$([[ $args == *-window* ]] || echo fs)"; then
        sleep 0.5
        kill -USR2 $GAME_PID
        x0=$(cpu_of "$XVFB_PID")
        start=$SECONDS
        play_moves "$PLAY"
        xcpu=$(awk -v a="$x0" -v b="$(cpu_of "$XVFB_PID")" -v s=$((SECONDS - start)) 'BEGIN { printf "%.3f", (b - a) / s }')
        kill -USR2 $GAME_PID
        kill -USR1 $GAME_PID
        for _ in $(seq 1 100); do [ -e "$probe.ready" ] && break; sleep 0.05; done
        if [ -e "$probe.ready" ]; then
            import -window root "$OUT/$name.png"
            kill -USR1 $GAME_PID
            convert "$OUT/$name.png" -crop "640x480+$(xdotool getwindowgeometry "$wid" |
                awk '/Position/ { split($2, p, ","); print p[1] "+" p[2] }')" +repage "$OUT/$name-window.png"
            pixels=$(compare -metric AE "$probe.ppm" "$OUT/$name-window.png" null: 2>&1)
        fi
        # The keyboard goes to the window: the X server is not reset between
        # runs, and the one before may have left it to none.
        xdo windowfocus --sync "$wid"
        xdotool key Escape sleep 0.3 key Escape
    else
        echo "$label: no game was begun (see $OUT/$name.log)" >&2
    fi
    wait_exit $GAME_PID 15 || kill -9 $GAME_PID 2>/dev/null
    rm -rf "$WORKDIR"
    figures=$(cat "$probe" 2>/dev/null)
    local f k v
    for f in $figures "xserver=${xcpu:-?}" "pixels=$pixels"; do
        k=${f%%=*} v=${f#*=}
        [ "$k" = first_frame_real_ns ] && k=first_frame_ms v=$(((v - t_exec) / 1000000))
        FIGURES[$name.$k]="${FIGURES[$name.$k]:-} $v"
    done
    echo "== $label: $figures xserver=${xcpu:-?} pixels=$pixels"
}

median() { tr ' ' '\n' | grep . | sort -g | awk '{ v[NR] = $1 } END { print NR ? v[int((NR + 1) / 2)] : "-" }'; }

trap stop_all EXIT
clean_env
start_xvfb 640x480
CLASSIC_KIV=
if build_classic; then CLASSIC_KIV=$CLASSIC/build/kiv; else echo "classic SDL 1.2 skipped" >&2; fi
SOUND="SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=/dev/null"
for round in $(seq 1 "$ROUNDS"); do
    echo "-- round $round of $ROUNDS"
    run "the game" "$BUILD/kiv" "" "-window -nosound"
    [ -n "$CLASSIC_KIV" ] && run "classic SDL 1.2" "$CLASSIC_KIV" "LD_LIBRARY_PATH=$LIBS" "-window -nosound"
    run "the game, sound" "$BUILD/kiv" "$SOUND" "-window"
    [ -n "$CLASSIC_KIV" ] && run "classic SDL 1.2, sound" "$CLASSIC_KIV" "LD_LIBRARY_PATH=$LIBS $SOUND" "-window"
    if [ $PATHS -eq 1 ]; then
        run "framebuffer through OpenGL" "$BUILD/kiv" "SDL_FRAMEBUFFER_ACCELERATION=opengl" "-window -nosound"
        run "texture, software renderer" "$BUILD/kiv" "SDL_RENDER_DRIVER=software SDL_FRAMEBUFFER_ACCELERATION=0" \
            "-nosound"
        run "texture, OpenGL renderer" "$BUILD/kiv" "SDL_RENDER_DRIVER=opengl" "-nosound"
    fi
done

echo
echo "Medians of $ROUNDS rounds of $PLAY s of play (CPU in seconds per second of play; allocations per frame):"
printf '%-30s %8s %6s %21s %6s %7s %7s %6s %6s %6s %7s\n' run first_ms fps "frame ms med/p99/max" game present \
    process Xvfb allocG allocL pixels
for name in "${LABELS[@]}"; do
    m() { echo "${FIGURES[$name.$1]:-}" | median; }
    printf '%-30s %8s %6s %21s %6s %7s %7s %6s %6s %6s %7s\n' "${FIGURES[$name.label]}" "$(m first_frame_ms)" \
        "$(m fps)" "$(m frame_median_ms)/$(m frame_p99_ms)/$(m frame_max_ms)" "$(m cpu_game)" "$(m cpu_present)" \
        "$(m cpu_process)" "$(m xserver)" "$(m allocs_game)" "$(m allocs_lib)" "$(m pixels)"
done
for sound in "" __sound; do
    a=$(echo "${FIGURES[the_game$sound.cpu_process]:-}" | median)
    b=$(echo "${FIGURES[classic_SDL_1_2$sound.cpu_process]:-}" | median)
    [ "$b" != - ] && awk -v a="$a" -v b="$b" -v s="${sound:+, with sound}" \
        'BEGIN { printf "process CPU, the game against classic SDL 1.2%s: %.2fx\n", s, a / b }'
done
echo "Screenshots, logs and probe files: $OUT"
