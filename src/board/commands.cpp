#include "board/commands.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "board/server.h"
#include "board/store.h"
#include "board/verify.h"

namespace {

using namespace kiv::board;

const char* const USAGE =
    "usage: kiv-board [serve] [--listen ADDRESS] [--port N] [--web DIR] [--data DIR | --database URL]\n"
    "                 [--allow-origin URL]... [--trusted-proxy ADDRESS]... [--threads N]\n"
    "                 [--workers N] [--queue N] [--worker-cpu S] [--worker-memory MB] [--worker-deadline S]\n"
    "                 [--max-steps-per-frame X] [--ticket-lifetime S] [--duration-margin S]\n"
    "                 [--tickets-per-minute N] [--board-tickets-per-minute N] [--games-per-minute N]\n"
    "                 [--request-timeout S] [--worker-trial open:PATH|connect:PORT|look]\n"
    "       kiv-board list [--limit N] [--data DIR | --database URL]\n"
    "       kiv-board remove ID [--data DIR | --database URL]\n";

int usage()
{
    std::fputs(USAGE, stderr);
    return 2;
}

bool number(const char* text, double low, double high, double* out)
{
    char* end = nullptr;
    errno = 0;
    double v = std::strtod(text, &end);
    if (!*text || *end || errno || !std::isfinite(v) || v < low || v > high)
        return false;
    *out = v;
    return true;
}

int list(const StoreConfig& config, int limit)
{
    auto store = open_store(config);
    auto games = store->latest(limit);
    std::printf("%d newest game%s on the board:\n", static_cast<int>(games.size()), games.size() == 1 ? "" : "s");
    for (const Game& g : games)
        std::printf("%10lld  %10d  %s  %6.1f s  %s\n", static_cast<long long>(g.id), g.score,
                    iso_time(g.time_ms).c_str(), g.seconds, g.name.c_str());
    return 0;
}

int remove_game(const StoreConfig& config, const std::string& id_text)
{
    std::int64_t id = 0;
    if (!parse_game_id(id_text, &id)) {
        std::fprintf(stderr, "kiv-board: a game's id is a number, not %s\n", id_text.c_str());
        return 2;
    }
    auto store = open_store(config);
    std::optional<Game> g = store->game(id);
    if (!g || !store->remove(id)) {
        std::fprintf(stderr, "kiv-board: there is no game %lld on the board\n", static_cast<long long>(id));
        return 1;
    }
    std::printf("removed game %lld: %s, %d points, %s\n", static_cast<long long>(id), g->name.c_str(), g->score,
                iso_time(g->time_ms).c_str());
    return 0;
}

} // namespace

int kiv::board::board_main(int argc, char** argv)
{
    std::string command = "serve";
    int first = 1;
    if (argc > 1 && argv[1][0] != '-') {
        command = argv[1];
        first = 2;
    }
    if (command == "verify-worker") {
        double seed = 0, spf = 0;
        if (argc < 4 || argc > 5 || !number(argv[2], 0, 4294967295.0, &seed) || !number(argv[3], 1, 5, &spf))
            return 2;
        return verify_worker_main(static_cast<std::uint32_t>(seed), spf, argc == 5 ? argv[4] : "");
    }
    if (command == "--help" || (argc > first && std::string(argv[first]) == "--help")) {
        std::fputs(USAGE, stdout);
        return 0;
    }
    if (command != "serve" && command != "list" && command != "remove")
        return usage();

    ServerOptions o;
    unsigned cores = std::thread::hardware_concurrency();
    o.threads = o.verify.workers = cores > 0 ? static_cast<int>(cores) : 2;
    o.verify.queue = 8 * o.verify.workers;
    o.store.data_dir = "board-data";
    if (const char* url = std::getenv("KIV_BOARD_DATABASE"))
        o.store.database = url;
    std::string id, web_given;
    double limit = 20;
    for (int i = first; i < argc; i++) {
        std::string a = argv[i];
        if (command == "remove" && a[0] != '-' && id.empty()) {
            id = a;
            continue;
        }
        if (i + 1 >= argc)
            return usage();
        const char* v = argv[++i];
        double n = 0;
        bool ok = true;
        if (a == "--data")
            o.store.data_dir = v;
        else if (a == "--database")
            o.store.database = v;
        else if (a == "--limit" && command == "list")
            ok = number(v, 1, 1000000, &limit);
        else if (command != "serve")
            ok = false;
        else if (a == "--listen")
            o.listen = v;
        else if (a == "--port" && (ok = number(v, 0, 65535, &n)))
            o.port = static_cast<int>(n);
        else if (a == "--web")
            o.web_dir = web_given = v;
        else if (a == "--allow-origin")
            o.allow_origins.push_back(v);
        else if (a == "--trusted-proxy")
            o.trusted_proxies.push_back(v);
        else if (a == "--threads" && (ok = number(v, 1, 64, &n)))
            o.threads = static_cast<int>(n);
        else if (a == "--workers" && (ok = number(v, 1, 256, &n)))
            o.verify.workers = static_cast<int>(n);
        else if (a == "--queue" && (ok = number(v, 0, 100000, &n)))
            o.verify.queue = static_cast<int>(n);
        else if (a == "--worker-cpu" && (ok = number(v, 1, 3600, &n)))
            o.verify.cpu_seconds = static_cast<int>(n);
        else if (a == "--worker-memory" && (ok = number(v, 16, 65536, &n)))
            o.verify.memory_mb = static_cast<long>(n);
        else if (a == "--worker-deadline" && (ok = number(v, 0.1, 3600, &n)))
            o.verify.deadline_seconds = n;
        else if (a == "--max-steps-per-frame")
            ok = number(v, 1, 5, &o.verify.max_steps_per_frame);
        else if (a == "--ticket-lifetime")
            ok = number(v, 1, 30 * 86400, &o.ticket_lifetime);
        else if (a == "--duration-margin")
            ok = number(v, 0, 86400, &o.duration_margin);
        else if (a == "--tickets-per-minute")
            ok = number(v, 0.01, 1e6, &o.tickets_per_minute);
        else if (a == "--board-tickets-per-minute")
            ok = number(v, 0.01, 1e7, &o.board_tickets_per_minute);
        else if (a == "--games-per-minute")
            ok = number(v, 0.01, 1e6, &o.games_per_minute);
        else if (a == "--worker-trial")
            o.verify.trial = v;
        else if (a == "--request-timeout")
            ok = number(v, 1, 3600, &o.request_timeout);
        else
            ok = false;
        if (!ok)
            return usage();
    }
    // Without --web, the web build of the checkout when there is one, else
    // the API alone.
    if (web_given.empty() && !std::filesystem::is_directory(o.web_dir))
        o.web_dir.clear();
    try {
        if (o.store.database.empty()) {
            std::error_code error;
            std::filesystem::create_directories(o.store.data_dir, error);
            if (error) {
                std::fprintf(stderr, "kiv-board: cannot make %s: %s\n", o.store.data_dir.c_str(),
                             error.message().c_str());
                return 1;
            }
        }
        if (command == "list")
            return list(o.store, static_cast<int>(limit));
        if (command == "remove")
            return id.empty() ? usage() : remove_game(o.store, id);
        return serve(o);
    } catch (const StoreError& e) {
        std::fprintf(stderr, "kiv-board: %s\n", e.what());
        return 1;
    }
}
