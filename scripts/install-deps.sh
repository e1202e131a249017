#!/bin/sh
# Installs the Debian packages Kiv needs to build, play and test.
# Quick when everything is already there: apt is only called for what is missing.
set -e
PKGS="cmake g++ make pkg-config
libsdl1.2-compat-dev libsdl-image1.2-dev libsdl-mixer1.2-dev
libpng-dev libvorbis-dev libgtest-dev libgmock-dev libbenchmark-dev
xvfb xdotool x11-utils imagemagick python3
dpkg-dev file desktop-file-utils appstream man-db"
missing=""
for p in $PKGS; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
if [ "$(id -u)" -eq 0 ]; then SUDO=""; else SUDO="sudo"; fi
echo "Installing:$missing"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends $missing
