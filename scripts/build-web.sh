#!/bin/sh
# Builds the web version with emscripten into build-web/ (the page and its
# files in build-web/web/). Run by scripts/web.sh and scripts/test.sh.
set -e
cd "$(dirname "$0")/.."
# Debian's emcc finds its JavaScript modules here also with another node.
export NODE_PATH=/usr/share/nodejs
emcmake cmake -S . -B build-web -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-web -j"$(nproc)"
