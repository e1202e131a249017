#!/bin/sh
# Installs what is missing (Debian 12), builds the web version and serves it
# on 127.0.0.1. build-web/web/ holds the whole game as static files.
set -e
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh web
sh scripts/build-web.sh
PORT=${PORT:-8000}
echo "Kiv is at http://127.0.0.1:$PORT/ (Ctrl-C to stop)"
exec python3 -m http.server "$PORT" --bind 127.0.0.1 --directory build-web/web
