#!/bin/sh
# Installs the Debian packages Kiv needs: `desktop` to build and play the
# game, `web` to build and serve the web version, `board` to build and serve
# the web version with the online board, `test` (the default) for all of
# that, the whole test suite (a PostgreSQL for the board's) and the
# benchmarks. Quick when everything is already there: apt is only called for
# what is missing.
set -e
DESKTOP="cmake g++ make pkg-config libsdl2-dev libsdl2-mixer-dev libx11-dev
libpng-dev zlib1g-dev libvorbis-dev libgtest-dev libgmock-dev libbenchmark-dev"
WEB="cmake make emscripten python3 brotli"
BOARD="$DESKTOP $WEB libmicrohttpd-dev nlohmann-json3-dev libsodium-dev libicu-dev libsqlite3-dev libpq-dev libseccomp-dev"
TEST="$BOARD xvfb xdotool x11-utils imagemagick dpkg-dev file desktop-file-utils appstream man-db
chromium openbox postgresql nginx-light wrk clang libfuzzer-14-dev curl"
case ${1:-test} in
  desktop) PKGS=$DESKTOP ;;
  web) PKGS=$WEB ;;
  board) PKGS=$BOARD ;;
  test) PKGS=$TEST ;;
  *) echo "usage: $0 [desktop|web|board|test]" >&2; exit 2 ;;
esac
missing=""
for p in $PKGS; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
# npm for the browser test's driver, unless a Node.js of another origin
# already brings its own.
[ "${1:-test}" = test ] && ! command -v npm >/dev/null && missing="$missing npm"
[ -z "$missing" ] && exit 0
if [ "$(id -u)" -eq 0 ]; then SUDO=""; else SUDO="sudo"; fi
echo "Installing:$missing"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends $missing
