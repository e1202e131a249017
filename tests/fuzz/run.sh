#!/bin/sh
# Fuzzes the replay reader and the verifier for SECONDS (default 60) with
# libFuzzer, from the recorded games and tests/fuzz/seeds as seeds (the
# largest body a header allows and a byte more, which mutation alone would
# not reach); new inputs it finds are kept
# in BUILD/fuzz-corpus for the next run, and a crashing input is saved in
# BUILD as crash-*. Builds the target with clang when it is missing.
#   sh tests/fuzz/run.sh [BUILD] [SECONDS]
set -e
cd "$(dirname "$0")/../.."
BUILD=${1:-build-fuzz}
SECONDS_TO_RUN=${2:-60}
if [ ! -x "$BUILD/kiv_fuzz_replay" ]; then
  cmake -S . -B "$BUILD" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DKIV_FUZZ=ON \
    -DBUILD_TESTING=OFF -DKIV_BENCH=OFF >/dev/null
  cmake --build "$BUILD" -j"$(nproc)" --target kiv_fuzz_replay
fi
mkdir -p "$BUILD/fuzz-corpus"
status=0
"$BUILD/kiv_fuzz_replay" -max_total_time="$SECONDS_TO_RUN" -max_len=65536 -timeout=60 -rss_limit_mb=1024 \
  -print_final_stats=1 -artifact_prefix="$BUILD/" "$BUILD/fuzz-corpus" tests/replays tests/fuzz/seeds >"$BUILD/fuzz.log" 2>&1 ||
  status=$?
grep -E '^#[0-9]+.*(DONE|INITED)|^stat::|ERROR|SUMMARY|Test unit written' "$BUILD/fuzz.log" || true
[ $status -eq 0 ] || echo "fuzzing found a fault: see $BUILD/fuzz.log" >&2
exit $status
