#!/bin/sh
# Installs what is missing, builds Kiv and starts it from the source tree.
# Extra arguments go to the game, e.g. scripts/play.sh -window
set -e
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh desktop
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target kiv
exec ./build/kiv "$@"
