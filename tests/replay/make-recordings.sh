#!/bin/sh
# Remakes the recordings in tests/replays with the bots: a quick loss by an
# idle player, a long game with every kind of event and combos up to the
# largest multiplier, a game past the million (sessions from the start of
# the program), and a short game from its Start as the web page records
# them. Run from the source tree after a change that is meant to alter
# behaviour, raise RULES_VERSION in src/replay/format.h (replays of the old
# rules must be refused, not played to other scores), check that the printed
# games are still what their names say (else pick other seeds), and say why
# in the commit.
#   tests/replay/make-recordings.sh build/tests/kiv_replay
set -e
REPLAY=${1:-build/tests/kiv_replay}
export SDL_VIDEODRIVER=dummy
"$REPLAY" record tests/replays/short.rec --seed 1 --bot idle
"$REPLAY" record tests/replays/long.rec --seed 100 --bot catcher --load 12
"$REPLAY" record tests/replays/million.rec --seed 500 --bot catcher
"$REPLAY" record tests/replays/game.rec --seed 2 --bot catcher --load 4 --give-up 2500 --game
