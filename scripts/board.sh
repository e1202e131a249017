#!/bin/sh
# Installs what is missing (Debian 12), builds the web version and the
# board's server, and serves both on http://127.0.0.1:8000/ with the board
# kept in board-data/ of the checkout. BOARD_DATA=DIR keeps it elsewhere,
# PORT=N serves another port; extra arguments go to kiv-board.
set -e
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh board
sh scripts/build-web.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target kiv-board
echo "Kiv with its board is at http://127.0.0.1:${PORT:-8000}/ (Ctrl-C to stop)"
exec ./build/kiv-board --listen 127.0.0.1 --port "${PORT:-8000}" --web build-web/web \
    --data "${BOARD_DATA:-board-data}" "$@"
