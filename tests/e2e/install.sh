#!/bin/bash
# Installing as a distribution would: the staged file list, desktop data and
# man page, the launcher (per-player directory, links to the data, moved
# installations, its failures) with a stand-in game, and the Debian package
# (fields, dependencies, a clean binary that starts).
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
    printf '%s\n' usr/bin/kiv usr/bin/kiv_verify usr/libexec/kiv/kiv usr/share/applications/$app.desktop \
        usr/share/metainfo/$app.metainfo.xml usr/share/man/man6/kiv.6 usr/share/man/man1/kiv_verify.1
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
check "48x48 icon header" 89504e470d0a1a0a0000000d4948445200000030 \
    "$(od -An -tx1 -N20 "$root/usr/share/icons/hicolor/48x48/apps/$app.png" | tr -d ' \n')"

# The launcher, with a stand-in game that reports where and how it started.
cat >"$root/usr/libexec/kiv/kiv" <<'EOF'
#!/bin/sh
{ echo "cwd=$(pwd -P)"; echo "images=$(readlink images)"; echo "sounds=$(readlink sounds)"
  for a in "$@"; do echo "arg=[$a]"; done; } >"$REPORT"
exit 7
EOF
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
case $depends in *libsdl1.2*) ;; *) check "SDL 1.2 in Depends" yes "no: $depends" ;; esac
case $depends in *libsdl-image1.2*) ;; *) check "SDL_image in Depends" yes "no: $depends" ;; esac
case $depends in *libsdl-mixer1.2*) ;; *) check "SDL_mixer in Depends" yes "no: $depends" ;; esac
apt-get install -s "$deb" >"$ART/apt.log" 2>&1 || fail "the package's dependencies cannot be met"
dpkg-deb -x "$deb" "$tmp/x"
game=$tmp/x/usr/libexec/kiv/kiv
check "run path or debug data" "" "$(readelf -dS "$game" | grep -E 'RPATH|RUNPATH|\.debug_info')"
grep -qF "$BUILD" "$game" && check "build folder named in the game" no yes
check "packaged verifier" '"score": 9828' "$("$tmp/x/usr/bin/kiv_verify" "$SRC/tests/replays/game.rec" | grep -o '"score": [0-9]*')"
env -i PATH=/usr/bin:/bin HOME="$tmp/deb-home" SDL_VIDEODRIVER=dummy \
    timeout 3 "$tmp/x/usr/bin/kiv" -nosound -window >"$ART/deb-game.log" 2>&1
check "packaged game still running after 3 s" 124 "$?"

[ "$failures" -eq 0 ] || fail "$failures check(s) failed"
echo PASS
