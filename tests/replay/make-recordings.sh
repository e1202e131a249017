#!/bin/sh
# Remakes the recordings in tests/replays with the bots, searching seeds
# until each scenario is met. Run from the source tree after a change that is
# meant to alter behaviour, and say why in the commit.
#   tests/replay/make-recordings.sh build/tests/kiv_replay
set -e
REPLAY=${1:-build/tests/kiv_replay}
export SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy
find_seed() {   # out, first seed, arguments...
    out=$1 seed=$2 last=$(($2 + 2000)); shift 2
    while [ "$seed" -lt "$last" ]; do
        if "$REPLAY" record "$out" --seed "$seed" "$@"; then return 0; fi
        seed=$((seed + 1))
    done
    echo "no seed found for $out" >&2; return 1
}
find_seed tests/replays/short.rec 1 --bot idle
find_seed tests/replays/long.rec 100 --bot catcher --load 12 --min-multiplier 10 --min-events 2
find_seed tests/replays/million.rec 500 --bot catcher --min-score 1000001
