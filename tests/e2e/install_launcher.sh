# The installed launcher, with a stand-in for the game that reports where and
# how it was started: per-user directory, links to the data, arguments,
# moved installations, a launcher reached through a link on the PATH.
# Usage: bash install_launcher.sh <kiv-binary> <source-dir> <build-dir>
set -u
build=$(cd "$3" && pwd) || exit 1
tmp=$(cd "$(mktemp -d)" && pwd -P) || exit 1
trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/cwd" && cd "$tmp/cwd" || exit 1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check_eq() { # what expected actual
  [ "$2" = "$3" ] || fail "$1: expected [$2], got [$3]"
}

# A staging tree whose path has a space in it, with the game replaced by a
# script that writes its working directory, links and arguments to $REPORT.
root="$tmp/first root"
DESTDIR="$root" cmake --install "$build" --prefix /usr >/dev/null || { echo "FAIL: install"; exit 1; }
mkdir -p "$root/usr/share/kiv/images" "$root/usr/share/kiv/sounds"
cat >"$root/usr/libexec/kiv/kiv" <<'EOF'
#!/bin/sh
{
  echo "cwd=$(pwd -P)"
  echo "images=$(readlink images)"
  echo "sounds=$(readlink sounds)"
  for a in "$@"; do echo "arg=[$a]"; done
} >"$REPORT"
exit "${STUB_STATUS:-1}"
EOF
chmod +x "$root/usr/libexec/kiv/kiv"

# run <launcher> <args...>, in a clean environment with HOME under $tmp.
run() {
  launcher=$1; shift
  rm -f "$tmp/report"
  env -i PATH="$tmp/path:/usr/bin:/bin" HOME="$tmp/home" REPORT="$tmp/report" \
    ${XDG+XDG_DATA_HOME="$XDG"} ${STATUS+STUB_STATUS="$STATUS"} \
    "$launcher" "$@" >"$tmp/out" 2>&1
  status=$?
  report=$(cat "$tmp/report" 2>/dev/null)
}
field() { printf '%s\n' "$report" | sed -n "s/^$1=//p"; }

data="$(cd "$root/usr/share/kiv" && pwd -P)"

# Default location, arguments passed on untouched, the game's status returned.
unset XDG STATUS
run "$root/usr/bin/kiv" -window "two words" "" '*' -mousespeed 15
check_eq "status" 1 "$status"
check_eq "working directory" "$tmp/home/.local/share/kiv" "$(field cwd)"
check_eq "images link" "$data/images" "$(field images)"
check_eq "sounds link" "$data/sounds" "$(field sounds)"
check_eq "arguments" "[-window]|[two words]|[]|[*]|[-mousespeed]|[15]" \
  "$(field arg | paste -sd '|')"
STATUS=7 run "$root/usr/bin/kiv"
check_eq "status passed through" 7 "$status"
check_eq "no arguments" "" "$(field arg)"

# XDG_DATA_HOME is honoured when absolute and ignored when relative.
XDG="$tmp/xdg data" run "$root/usr/bin/kiv"
check_eq "XDG_DATA_HOME" "$tmp/xdg data/kiv" "$(field cwd)"
XDG="relative/dir" run "$root/usr/bin/kiv"
check_eq "relative XDG_DATA_HOME ignored" "$tmp/home/.local/share/kiv" "$(field cwd)"
[ -e "$tmp/cwd/relative" ] && fail "a relative XDG_DATA_HOME made a directory"
unset XDG

# The installation moves: the links follow it, the player's file stays.
printf '\000\000\000\007' >"$tmp/home/.local/share/kiv/kiv.prf"
mv "$root" "$tmp/moved"
root="$tmp/moved"
data="$(cd "$root/usr/share/kiv" && pwd -P)"
run "$root/usr/bin/kiv"
check_eq "status after the move" 1 "$status"
check_eq "images link after the move" "$data/images" "$(field images)"
check_eq "sounds link after the move" "$data/sounds" "$(field sounds)"
check_eq "kiv.prf kept" "00000007" "$(od -An -tx1 "$tmp/home/.local/share/kiv/kiv.prf" | tr -d ' \n')"

# Reached by name through a link in another directory on the PATH.
mkdir -p "$tmp/path"
ln -s "../moved/usr/bin/kiv" "$tmp/path/kiv"
run kiv -nosound
check_eq "through a link on the PATH" "$data/images" "$(field images)"
check_eq "argument through the link" "[-nosound]" "$(field arg)"

# A real directory of the player's own is used, not replaced.
rm "$tmp/home/.local/share/kiv/images"
mkdir "$tmp/home/.local/share/kiv/images"
run "$root/usr/bin/kiv"
[ -d "$tmp/home/.local/share/kiv/images" ] && [ ! -L "$tmp/home/.local/share/kiv/images" ] \
  || fail "the player's own images directory was replaced"
check_eq "sounds link beside the player's images" "$data/sounds" "$(field sounds)"

# Without data or without a place for the player's files: a message, status 1,
# and the game is not started.
mv "$root/usr/share/kiv/sounds" "$tmp/sounds-away"
run "$root/usr/bin/kiv"
check_eq "status without data" 1 "$status"
[ -z "$report" ] || fail "the game was started without its data"
grep -q "data is missing" "$tmp/out" || fail "no message about missing data: $(cat "$tmp/out")"
mv "$tmp/sounds-away" "$root/usr/share/kiv/sounds"
rm -f "$tmp/report"
env -i PATH=/usr/bin:/bin REPORT="$tmp/report" "$root/usr/bin/kiv" >"$tmp/out" 2>&1
check_eq "status without HOME" 1 "$?"
[ -e "$tmp/report" ] && fail "the game was started without HOME"
grep -q "HOME" "$tmp/out" || fail "no message about HOME: $(cat "$tmp/out")"
touch "$tmp/file"
XDG="$tmp/file" run "$root/usr/bin/kiv"
check_eq "status when the directory cannot be made" 1 "$status"
[ -z "$report" ] || fail "the game was started without its directory"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "launcher: all checks passed"
