# Builds the Debian package from the build tree and checks it: contents,
# control fields, dependencies that cover every library the game loads, a
# game binary free of build paths, and that the packaged game starts.
# Usage: bash deb.sh <kiv-binary> <source-dir> <build-dir>
set -u
src=$(cd "$2" && pwd -P) || exit 1
build=$(cd "$3" && pwd -P) || exit 1
app=io.github.kiv.Kiv
tmp=$(cd "$(mktemp -d)" && pwd -P) || exit 1
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

(cd "$tmp" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/out") \
  >"$tmp/cpack.log" 2>&1 || { cat "$tmp/cpack.log"; echo "FAIL: cpack"; exit 1; }
set -- "$tmp"/out/kiv_*.deb
[ -f "$1" ] || { ls -R "$tmp/out"; echo "FAIL: no kiv_*.deb"; exit 1; }
deb=$1
field() { dpkg-deb -f "$deb" "$1"; }

# Control fields.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")
[ "$(field Package)" = kiv ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version-1" ] || fail "Version: $(field Version), $version-1 expected"
[ "$(field Section)" = games ] || fail "Section: $(field Section)"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture: $(field Architecture)"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
long=$(field Description | awk 'length > 80' | head -n1)
[ -z "$long" ] || fail "description line over 80 columns: $long"

# Contents: everything under /usr, the same files an install puts there.
dpkg-deb -c "$deb" >"$tmp/long-listing"
awk '{print $6}' "$tmp/long-listing" | sed 's|^\./||' >"$tmp/listing"
grep -v '^usr/' "$tmp/listing" && fail "files outside /usr"
for f in usr/bin/kiv usr/libexec/kiv/kiv usr/share/applications/$app.desktop \
         usr/share/metainfo/$app.metainfo.xml usr/share/man/man6/kiv.6 \
         usr/share/icons/hicolor/48x48/apps/$app.png \
         usr/share/kiv/images/ball_r15.png usr/share/kiv/sounds/kiv1.ogg; do
  grep -qx "$f" "$tmp/listing" || fail "$f not in the package"
done
grep -q '^-rwxr-xr-x .* \./usr/bin/kiv$' "$tmp/long-listing" || fail "launcher not executable"
pictures=$(grep -c '^usr/share/kiv/images/.*\.png$' "$tmp/listing")
[ "$pictures" -eq 48 ] || fail "48 pictures expected in the package, $pictures found"

# Dependencies: the SDL 1.2 stack by name, and for every library the game
# binary needs, the package that ships it here (or a name it provides).
dpkg-deb -x "$deb" "$tmp/x"
game=$tmp/x/usr/libexec/kiv/kiv
depends=$(field Depends)
echo "Depends: $depends"
names=" $(printf '%s' "$depends" | tr ',|' '\n\n' | awk '{print $1}' | tr '\n' ' ')"
case $names in *" libsdl1.2debian "*|*" libsdl1.2-compat"*) ;; *) fail "no SDL 1.2 dependency";; esac
case $names in *" libsdl-image1.2 "*) ;; *) fail "no SDL_image dependency";; esac
for lib in $(readelf -d "$game" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
  path=$(ldconfig -p | awk -v l="$lib" '$1 == l {print $NF; exit}')
  [ -n "$path" ] || { fail "$lib is not installed here"; continue; }
  # The package that ships the name the loader finds (/lib may be a link
  # to /usr/lib), else the file it points to.
  owner=
  for candidate in "$path" "/usr$path" "$(readlink -f "$path")"; do
    owner=$(dpkg -S "$candidate" 2>/dev/null | head -n1 | cut -d: -f1)
    [ -n "$owner" ] && break
  done
  provides=$(dpkg-query -W -f='${Provides}' "$owner" 2>/dev/null | tr ',' '\n' | awk '{print $1}')
  found=0
  for p in $owner $provides; do
    case $names in *" $p "*) found=1;; esac
  done
  [ "$found" -eq 1 ] || fail "$lib (from $owner) is not covered by Depends"
done
if command -v apt-get >/dev/null; then
  apt-get install -s "$deb" >"$tmp/apt.log" 2>&1 || fail "dependencies cannot be met: $(tail -n5 "$tmp/apt.log")"
fi

# The packaged binary is stripped and names no directory of this build.
readelf -d "$game" | grep -Eq 'RPATH|RUNPATH' && fail "the packaged game has a run path"
readelf -S "$game" | grep -q '\.debug_info' && fail "the packaged game has debug information"
for dir in "$src" "$build"; do
  grep -qF "$dir" "$game" && fail "the packaged game names $dir"
done

# The packaged launcher starts the packaged game: a wrong option gives the
# game's usage line and status 1; on the headless video driver it loads its
# pictures and keeps running until stopped.
env HOME="$tmp/home" XDG_DATA_HOME= "$tmp/x/usr/bin/kiv" -bogus >"$tmp/out.log" 2>&1
status=$?
[ "$status" -eq 1 ] || fail "status $status after a wrong option"
grep -q '^Usage: .* \[-nosound\] \[-mousespeed num\] \[-window\]$' "$tmp/out.log" \
  || fail "no usage line: $(cat "$tmp/out.log")"
env HOME="$tmp/home" XDG_DATA_HOME= SDL_VIDEODRIVER=dummy \
  timeout 3 "$tmp/x/usr/bin/kiv" -nosound -window >"$tmp/out.log" 2>&1
status=$?
[ "$status" -eq 124 ] || fail "the packaged game stopped by itself (status $status): $(cat "$tmp/out.log")"
[ -L "$tmp/home/.local/share/kiv/images" ] || fail "no per-user directory from the packaged launcher"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "deb: all checks passed"
