#!/bin/sh
# Installs what is missing, builds everything and runs the whole test suite:
# the desktop game (unit and headless tests, recorded games, end-to-end tests
# under Xvfb) and the web version (the recorded games under node, the page
# in headless Chromium).
set -e
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
sh scripts/build-web.sh
# The browser test's driver (it downloads no browser: it drives Debian's).
# Node trusts the system's certificates too, as apt and git do.
[ -z "${NODE_EXTRA_CA_CERTS:-}" ] && [ -f /etc/ssl/certs/ca-certificates.crt ] &&
    export NODE_EXTRA_CA_CERTS=/etc/ssl/certs/ca-certificates.crt
[ -d build-web/node_modules/puppeteer-core ] ||
    npm install --prefix build-web --no-audit --no-fund --loglevel=error puppeteer-core@24.43.1
status=0
(cd build && ctest --output-on-failure -j"$(nproc)") || status=1
(cd build-web && ctest --output-on-failure -j"$(nproc)") || status=1
exit $status
