// kiv-board's HTTP side: the JSON API and the web build's static files, on
// libmicrohttpd (epoll, a small pool of threads). A submission waits for its
// verification suspended, without holding a thread.
#pragma once

#include <string>
#include <vector>

#include "board/store.h"
#include "board/verify.h"

namespace kiv::board {

struct ServerOptions {
    std::string listen = "127.0.0.1";
    int port = 8000;
    std::string web_dir = "build-web/web";  // empty: the API alone
    StoreConfig store;
    std::vector<std::string> allow_origins;
    std::vector<std::string> trusted_proxies;
    int threads = 2;
    VerifySettings verify;
    double ticket_lifetime = 7200;   // seconds
    double duration_margin = 2;      // seconds, and 1 % of the game's length
    double tickets_per_minute = 30;        // for each address (an IPv6 /64)
    double board_tickets_per_minute = 1200;  // for all addresses together
    double games_per_minute = 10;
    double request_timeout = 10;     // seconds for a whole request
    double top_cache_age = 1;        // seconds
};

// Serves until SIGINT or SIGTERM; returns the exit status.
int serve(const ServerOptions& options);

} // namespace kiv::board
