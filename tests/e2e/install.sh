# Installs into a staging directory as a distribution would, checks what was
# installed and that the desktop data validates, then plays the installed
# game through its launcher under Xvfb: from the staging tree and again after
# moving it, each time quitting with Escape.
# Usage: bash install.sh <kiv-binary> <source-dir> <build-dir>
set -u
src=$(cd "$2" && pwd) || exit 1
build=$(cd "$3" && pwd) || exit 1
app=io.github.kiv.Kiv
. "$(dirname "$0")/lib/xvfb.sh"
tmp=$(cd "$(mktemp -d)" && pwd -P) || exit 1
trap 'rm -rf "$tmp"' EXIT
# Unlike the helpers' fail, carry on and report every failed check.
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

root=$tmp/root
DESTDIR=$root cmake --install "$build" --prefix /usr >"$tmp/install.log" 2>&1 \
  || { cat "$tmp/install.log"; echo "FAIL: cmake --install"; exit 1; }

# The installed files, exactly: nothing missing, nothing extra.
{
  echo usr/bin/kiv
  echo usr/libexec/kiv/kiv
  echo usr/share/applications/$app.desktop
  echo usr/share/metainfo/$app.metainfo.xml
  echo usr/share/man/man6/kiv.6
  for size in 32 48 64 128 256; do
    echo usr/share/icons/hicolor/${size}x$size/apps/$app.png
  done
  (cd "$src" && ls images/*.png sounds/*.wav sounds/*.ogg 2>/dev/null) | sed 's|^|usr/share/kiv/|'
} | sort >"$tmp/expected"
(cd "$root" && find . ! -type d | sed 's|^\./||' | sort) >"$tmp/installed"
diff "$tmp/expected" "$tmp/installed" >"$tmp/diff" || fail "installed files differ (< expected, > installed):
$(cat "$tmp/diff")"
count=$(grep -c '^usr/share/kiv/images/.*\.png$' "$tmp/installed")
[ "$count" -eq 48 ] || fail "48 pictures expected, $count installed"
for f in gen.wav score.wav miss.wav kiv1.ogg kiv2.ogg; do
  [ -s "$root/usr/share/kiv/sounds/$f" ] || fail "sound $f not installed"
done
for f in usr/bin/kiv usr/libexec/kiv/kiv; do
  [ -x "$root/$f" ] || fail "$f is not executable"
done
find "$root/usr/share" -type f -perm /111 | grep . && fail "data files installed executable"

# Icons: PNG files of their nominal size (width and height in the IHDR chunk).
for size in 32 48 64 128 256; do
  icon=$root/usr/share/icons/hicolor/${size}x$size/apps/$app.png
  [ -f "$icon" ] || continue
  head=$(od -An -tx1 -N24 "$icon" | tr -d ' \n')
  [ "${head:0:16}" = 89504e470d0a1a0a ] || fail "icon $size is not a PNG"
  printf -v want '%08x%08x' "$size" "$size"
  [ "${head:32:16}" = "$want" ] || fail "icon $size has size ${head:32:16}"
done

# Desktop entry and AppStream data.
desktop=$root/usr/share/applications/$app.desktop
metainfo=$root/usr/share/metainfo/$app.metainfo.xml
desktop-file-validate "$desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$metainfo" >"$tmp/as.log" 2>&1 \
  || fail "appstreamcli validate: $(cat "$tmp/as.log")"
grep -qx "Icon=$app" "$desktop" || fail "desktop entry names another icon"
grep -qx "Exec=kiv" "$desktop" || fail "desktop entry does not run the launcher"
grep -qx "Categories=Game;ArcadeGame;" "$desktop" || fail "desktop entry categories"
grep -q "<launchable type=\"desktop-id\">$app.desktop</launchable>" "$metainfo" \
  || fail "metainfo does not launch the desktop entry"
grep -q "@[A-Z_]*@" "$metainfo" "$root/usr/bin/kiv" && fail "unsubstituted placeholders"

# Man page: formats without warnings and documents what a player needs.
man=$root/usr/share/man/man6/kiv.6
warnings=$(groff -man -ww -z "$man" 2>&1)
[ -z "$warnings" ] || fail "man page warnings: $warnings"
text=$(groff -man -Tutf8 -P-cbou "$man" 2>/dev/null)
for word in -nosound -mousespeed -window kiv.prf "EXIT STATUS" XDG_DATA_HOME; do
  printf '%s' "$text" | grep -q -- "$word" || fail "man page does not mention $word"
done

start_xvfb
trap 'stop_all; rm -rf "$tmp"' EXIT

# play <launcher> <name>: starts the game through the launcher, waits for its
# window, presses Escape on the title and checks that it ends with status 1.
play() {
  env HOME="$tmp/home" XDG_DATA_HOME="$tmp/xdg" "$1" -window -nosound \
    >"$tmp/game.log" 2>&1 &
  GAME_PID=$!
  # Waits up to 15 s for the window while the game lives, so that a failed
  # start ends early (one search can take a good part of a second).
  wid=
  end=$((SECONDS + 15))
  while [ -z "$wid" ] && [ "$SECONDS" -lt "$end" ] && kill -0 "$GAME_PID" 2>/dev/null; do
    wid=$(xdotool search --name '^Kiv$' 2>/dev/null | head -n1)
    [ -n "$wid" ] || sleep 0.05
  done
  if [ -n "$wid" ]; then
    sleep 0.5
    xdo windowfocus --sync "$wid" 2>/dev/null
    xdo key Escape
  else
    fail "$2: no window: $(cat "$tmp/game.log")"
  fi
  if ! wait_exit "$GAME_PID" 10; then
    fail "$2: Escape did not quit"
  elif [ "$EXIT_STATUS" -ne 1 ]; then
    fail "$2: exit status $EXIT_STATUS, 1 expected: $(cat "$tmp/game.log")"
  else
    GAME_PID=
  fi
}

player=$tmp/xdg/kiv
play "$root/usr/bin/kiv" "staged install"
[ -d "$player" ] || fail "no per-user directory $player"
[ "$(hex_of "$player/kiv.prf" 2>/dev/null)" = 000f4240 ] \
  || fail "new kiv.prf should hold 1,000,000: $(hex_of "$player/kiv.prf" 2>/dev/null)"
[ -e "$root/usr/share/kiv/kiv.prf" ] && fail "kiv.prf written into the installation"
[ -e "$tmp/home/.local/share/kiv" ] && fail "per-user directory made outside XDG_DATA_HOME"

# The installation moved; the player's high score is read from and written
# back to their own file.
mv "$root" "$tmp/moved"
printf '\000\000\000\007' >"$player/kiv.prf"
play "$tmp/moved/usr/bin/kiv" "moved install"
[ "$(readlink "$player/images")" = "$tmp/moved/usr/share/kiv/images" ] \
  || fail "images link not moved: $(readlink "$player/images")"
[ "$(hex_of "$player/kiv.prf")" = 00000007 ] \
  || fail "the player's high score 7 became $(hex_of "$player/kiv.prf")"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "install: all checks passed"
