// The board's API: each request under /api/ to the rule that owns it, with
// the rate limits by client; and the two ways kiv-board runs, as a server
// (the API, the page and verifiers) or as a lone worker (verifiers alone).
#pragma once

#include "board/http.h"
#include "board/settings.h"

namespace kiv::board {

struct ServerOptions {
    BoardSettings board;
    HttpOptions http;
    double tickets_per_minute = 30;          // for each client (an IPv6 /64)
    double board_tickets_per_minute = 1200;  // for all clients together
    double games_per_minute = 10;            // games not on a ticket in play
    double names_per_minute = 10;            // claims and pairing codes
    double starts_per_minute = 30;           // starts, and leaving tickets not in play
    double reads_per_minute = 300;           // a game's status or replay
    double top_cache_age = 1;                // seconds
    int watchers_per_client = 20;            // live streams open at once, for each client
    int watchers = MAX_CONNECTIONS / 4 * 3;  // live streams open at once on this server
};

// Serves until SIGINT or SIGTERM; returns the exit status.
int serve(const ServerOptions& options);
// Verifies queued games until SIGINT or SIGTERM; returns the exit status.
int work(const BoardSettings& settings);

} // namespace kiv::board
