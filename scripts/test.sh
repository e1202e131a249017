#!/bin/sh
# Installs what is missing, builds everything and runs the whole test suite:
# unit and headless tests, and the end-to-end tests under Xvfb.
set -e
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
cd build
ctest --output-on-failure -j"$(nproc)"
