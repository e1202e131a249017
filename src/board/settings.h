// What an operator sets of the board's rules (kiv-board's options), shared by
// the rule files, the server and the lone worker.
#pragma once

#include "board/store.h"
#include "board/verify.h"
#include "frame/loop.h"

namespace kiv::board {

// The longest game a replay holds, in milliseconds.
constexpr std::int64_t LONGEST_GAME_MS = MAX_REPLAY_STEPS * STEP_MS;

struct BoardSettings {
    StoreConfig store;
    VerifySettings verify;
    int workers = 2;              // verifier threads of this process
    int queue = 256;              // pending games from which no ticket starts
    double lease_seconds = 15;    // a verifier's hold on a game, renewed while it works
    double ticket_lifetime = 7200;  // seconds an unstarted ticket lives
    double pace_margin = 10;      // seconds a game may fall behind real time
    double pace_tolerance = 0.5;  // seconds a game may run ahead of it (clock drift, never the network)
    int running_per_name = 3;     // started games not yet sent, for one name
    int running_per_client = 20;  // and for one client (an IPv4 address, an IPv6 /64)
};

} // namespace kiv::board
