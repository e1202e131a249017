#!/bin/bash
# Installing as a distribution would: the staged file list, desktop data and
# man pages, the launchers (per-player directory, links to the data, moved
# installations, kiv-watch's file, their failures) with stand-in programs,
# and the Debian package (fields, dependencies on SDL2 and none on SDL 1.2,
# clean binaries; the packaged game played under Xvfb keeps a replay of its
# run, which the packaged kiv-verify accepts).
# Usage: install.sh <kiv-binary> <source-dir> <build-dir>
set -u
KIV=$1 SRC=$(cd "$2" && pwd -P) BUILD=$(cd "$3" && pwd -P)
. "$(dirname "$0")/lib.sh"
start_e2e install
app=io.github.kiv.Kiv
tmp=$WORKDIR
failures=0
check() { [ "$2" = "$3" ] || { echo "FAIL: $1: expected [$2], got [$3]"; failures=$((failures + 1)); }; }

root=$tmp/first\ root
DESTDIR=$root cmake --install "$BUILD" --prefix /usr >"$ART/install.log" 2>&1 || fail "cmake --install"
{
    printf '%s\n' usr/bin/kiv usr/bin/kiv-watch usr/bin/kiv-verify usr/bin/kiv_verify usr/libexec/kiv/kiv \
        usr/libexec/kiv/kiv-watch usr/share/applications/$app.desktop usr/share/metainfo/$app.metainfo.xml \
        usr/share/man/man6/kiv.6 usr/share/man/man1/kiv-watch.1 usr/share/man/man1/kiv-verify.1 \
        usr/share/man/man1/kiv_verify.1
    for size in 32 48 64 128 256; do echo usr/share/icons/hicolor/${size}x$size/apps/$app.png; done
    (cd "$SRC" && ls images/*.png sounds/*.wav sounds/*.ogg) | sed 's|^|usr/share/kiv/|'
} | sort >"$ART/expected-files"
(cd "$root" && find . ! -type d | sed 's|^\./||' | sort) >"$ART/installed-files"
check "installed files" "" "$(diff "$ART/expected-files" "$ART/installed-files")"
check "executable data" "" "$(find "$root/usr/share" -type f -perm /111)"
desktop-file-validate "$root/usr/share/applications/$app.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$root/usr/share/metainfo/$app.metainfo.xml" >"$ART/appstream.log" 2>&1 ||
    fail "appstreamcli: $(cat "$ART/appstream.log")"
check "man page warnings" "" "$(groff -man -ww -z "$root"/usr/share/man/man*/kiv* 2>&1)"
check "the verifier's old names" "kiv-verify kiv-verify.1" \
    "$(readlink "$root/usr/bin/kiv_verify") $(readlink "$root/usr/share/man/man1/kiv_verify.1")"
check "48x48 icon header" 89504e470d0a1a0a0000000d4948445200000030 \
    "$(od -An -tx1 -N20 "$root/usr/share/icons/hicolor/48x48/apps/$app.png" | tr -d ' \n')"

# The launchers, with stand-in programs that report where and how they started.
for program in kiv kiv-watch; do
    cat >"$root/usr/libexec/kiv/$program" <<'EOF'
#!/bin/sh
{ echo "cwd=$(pwd -P)"; echo "images=$(readlink images)"; echo "sounds=$(readlink sounds)"
  echo "program=$(basename "$0")"; for a in "$@"; do echo "arg=[$a]"; done; } >"$REPORT"
exit 7
EOF
done
run() {   # launcher args... (XDG, if set, becomes XDG_DATA_HOME)
    local launcher=$1; shift
    rm -f "$tmp/report"
    env -i PATH="$tmp/path:/usr/bin:/bin" HOME="$tmp/home" REPORT="$tmp/report" ${XDG+XDG_DATA_HOME="$XDG"} \
        "$launcher" "$@" >"$tmp/out" 2>&1
    status=$?
    report=$(cat "$tmp/report" 2>/dev/null)
}
field() { printf '%s\n' "$report" | sed -n "s/^$1=//p" | paste -sd '|'; }
data=$root/usr/share/kiv
unset XDG
run "$root/usr/bin/kiv" -window "two words" "" -mousespeed 15
check "status passed on" 7 "$status"
check "player directory" "$tmp/home/.local/share/kiv" "$(field cwd)"
check "links" "$data/images $data/sounds" "$(field images) $(field sounds)"
check "arguments" "[-window]|[two words]|[]|[-mousespeed]|[15]" "$(field arg)"
XDG=$tmp/xdg run "$root/usr/bin/kiv"
check "XDG_DATA_HOME" "$tmp/xdg/kiv" "$(field cwd)"
mkdir -p "$tmp/somewhere" && cd "$tmp/somewhere" || fail "no folder to start kiv-watch in"
run "$root/usr/bin/kiv-watch" -nosound "my run.rec" /elsewhere/b.rec
cd "$WORKDIR" || fail "no work dir"
check "kiv-watch, its file found from where it started" \
    "kiv-watch $tmp/home/.local/share/kiv [-nosound]|[$tmp/somewhere/my run.rec]|[/elsewhere/b.rec]" \
    "$(field program) $(field cwd) $(field arg)"
XDG=relative run "$root/usr/bin/kiv"
check "relative XDG_DATA_HOME ignored" "$tmp/home/.local/share/kiv" "$(field cwd)"
printf '\0\0\0\7' >"$tmp/home/.local/share/kiv/kiv.prf"
mv "$root" "$tmp/moved" && root=$tmp/moved data=$tmp/moved/usr/share/kiv
mkdir -p "$tmp/path" && ln -s ../moved/usr/bin/kiv "$tmp/path/kiv"
run kiv -nosound
check "moved, through a link on the PATH" "$data/images [-nosound]" "$(field images) $(field arg)"
check "the player's kiv.prf kept" 00000007 "$(hex_of "$tmp/home/.local/share/kiv/kiv.prf")"
mv "$data/sounds" "$tmp/away"
run "$root/usr/bin/kiv"
check "without data" "1 no game" "$status ${report:-no game}"
mv "$tmp/away" "$data/sounds"
XDG=$tmp/path/kiv run "$root/usr/bin/kiv"
check "player directory cannot be made" "1 no game" "$status ${report:-no game}"

# The Debian package.
(cd "$tmp" && cpack -G DEB --config "$BUILD/CPackConfig.cmake" -B "$tmp/deb") >"$ART/cpack.log" 2>&1 || fail "cpack"
deb=$(ls "$tmp"/deb/kiv_*.deb) || fail "no package"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$BUILD/CMakeCache.txt")
check "fields" "kiv $version-1 games $(dpkg --print-architecture)" \
    "$(dpkg-deb -f "$deb" Package Version Section Architecture | cut -d' ' -f2 | paste -sd ' ')"
depends=$(dpkg-deb -f "$deb" Depends)
check "SDL2, SDL2_mixer and SDL 1.2 in Depends ($depends)" "yes yes no" "$(for p in 'libsdl2-2\.0-0' \
    'libsdl2-mixer-2\.0-0' 'sdl1\.2\|libsdl-\|sdl12'; do echo "$depends" | grep -q "$p" && echo yes || echo no; done | paste -sd ' ')"
apt-get install -s "$deb" >"$ART/apt.log" 2>&1 || fail "the package's dependencies cannot be met"
dpkg-deb -x "$deb" "$tmp/x"
for binary in kiv kiv-watch; do
    game=$tmp/x/usr/libexec/kiv/$binary
    check "run path or debug data in $binary" "" "$(readelf -dS "$game" | grep -E 'RPATH|RUNPATH|\.debug_info')"
    grep -qF "$BUILD" "$game" && check "build folder named in $binary" no yes
done
for verifier in kiv-verify kiv_verify; do
    check "packaged $verifier" '"score": 9828' \
        "$("$tmp/x/usr/bin/$verifier" "$SRC/tests/replays/game.rec" | grep -o '"score": [0-9]*')"
done

# The packaged game as a player starts it, in a window: a game begun and
# left, then Escape on the title. Its run is kept as a replay, which the
# packaged kiv-verify plays again.
start_xvfb
deb_home=$tmp/deb-home
packaged=(env -i PATH=/usr/bin:/bin HOME="$deb_home" DISPLAY="$DISPLAY" SDL_AUDIODRIVER=dummy)
tied "${packaged[@]}" "$tmp/x/usr/bin/kiv" -window >"$ART/deb-game.log" 2>&1
GAME_PID=$!
wid=$(wait_window 15 $GAME_PID) || fail "the packaged game opened no window: $(cat "$ART/deb-game.log")"
start_game deb-playing || fail "the packaged game did not begin a game"
escape_until_gone "$wid" $GAME_PID 3 || fail "Escape did not end the packaged game"
check "packaged game's exit status and words" "1 " "$EXIT_STATUS $(cat "$ART/deb-game.log")"
replays=$deb_home/.local/share/kiv/replays
kept=$(ls "$replays")
check "replays of the packaged game" 1 "$(echo "$kept" | grep -cE '^kiv-[0-9-]{17}-[0-9]+\.rec$')"
check "the packaged kiv-verify on the packaged game's run" '"end": "none"' \
    "$("$tmp/x/usr/bin/kiv-verify" "$replays/$kept" 2>&1 | grep -o '"end": "none"')"

[ "$failures" -eq 0 ] || fail "$failures check(s) failed"
echo PASS
