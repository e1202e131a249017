#include "board/commands.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "board/api.h"
#include "board/owners.h"
#include "board/store.h"
#include "board/top.h"
#include "board/verify.h"

namespace {

using namespace kiv::board;

const char* const USAGE =
    "usage: kiv-board [serve] [--listen ADDRESS] [--port N] [--web DIR] [--data DIR | --database URL]\n"
    "                 [--allow-origin URL]... [--trusted-proxy ADDRESS]... [--threads N] [--workers N]\n"
    "                 [--queue N] [--worker-cpu S] [--worker-memory MB] [--worker-deadline S] [--lease S]\n"
    "                 [--max-steps-per-frame X] [--max-steps-per-frame-in-second X] [--ticket-lifetime S]\n"
    "                 [--pace-margin S] [--pace-tolerance S] [--running-per-name N] [--running-per-client N]\n"
    "                 [--tickets-per-minute N] [--board-tickets-per-minute N] [--games-per-minute N]\n"
    "                 [--names-per-minute N] [--starts-per-minute N] [--reads-per-minute N]\n"
    "                 [--watchers-per-client N] [--watchers N] [--request-timeout S]\n"
    "                 [--worker-trial open:PATH|connect:PORT|look]\n"
    "       kiv-board worker [--data DIR | --database URL] [--workers N] [--worker-cpu S] [--worker-memory MB]\n"
    "                 [--worker-deadline S] [--lease S] [--max-steps-per-frame X]\n"
    "                 [--max-steps-per-frame-in-second X]\n"
    "       kiv-board list [--limit N] [--data DIR | --database URL]\n"
    "       kiv-board remove ID [--data DIR | --database URL]\n"
    "       kiv-board queue [--data DIR | --database URL]\n"
    "       kiv-board names [--data DIR | --database URL]\n"
    "       kiv-board release NAME [--data DIR | --database URL]\n"
    "       kiv-board rename OLD NEW [--data DIR | --database URL]\n"
    "       kiv-board pair NAME [--data DIR | --database URL]\n";

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

int fail(const std::string& why)
{
    std::fprintf(stderr, "kiv-board: %s\n", why.c_str());
    return 1;
}

int list(Db& db, int limit)
{
    const Rows games = db.run("SELECT id, name, score, time_ms, seconds, day FROM games WHERE status = 1 "
                              "ORDER BY id DESC LIMIT ?",
                              {static_cast<std::int64_t>(limit)});
    std::printf("%d newest game%s on the board:\n", static_cast<int>(games.size()), games.size() == 1 ? "" : "s");
    // A daily game says its day.
    for (const Row& g : games)
        std::printf("%10lld  %10lld  %s  %6.1f s  %s%s\n", static_cast<long long>(g.integer(0)),
                    static_cast<long long>(g.integer(2)), iso_time(g.integer(3)).c_str(), g.real(4), g.text(1).c_str(),
                    g.null(5) ? "" : ("  (daily " + g.text(5) + ")").c_str());
    return 0;
}

const char* const STATUS[] = {"pending", "on the board", "refused", "practice"};

int remove_game(Db& db, const std::string& id_text)
{
    std::int64_t id = 0;
    if (!parse_game_id(id_text, &id)) {
        std::fprintf(stderr, "kiv-board: a game's id is a number, not %s\n", id_text.c_str());
        return 2;
    }
    const Rows g = db.run("SELECT name, score, time_ms, status FROM games WHERE id = ?", {id});
    db.run("DELETE FROM games WHERE id = ?", {id});
    if (g.empty() || db.changes() == 0)
        return fail("there is no game " + id_text);
    std::printf("removed game %lld (%s): %s, %lld points, %s\n", static_cast<long long>(id), STATUS[g[0].integer(3)],
                g[0].text(0).c_str(), static_cast<long long>(g[0].integer(1)), iso_time(g[0].integer(2)).c_str());
    return 0;
}

int queue(Db& db)
{
    const std::int64_t now = now_ms();
    const Rows pending = db.run("SELECT rules, count(*), min(arrived_ms) FROM games WHERE status = 0 "
                                "GROUP BY rules ORDER BY rules");
    if (pending.empty())
        std::printf("no game waits for a verdict\n");
    for (const Row& r : pending)
        std::printf("rules version %lld: %lld game%s waiting, the oldest for %.0f s\n",
                    static_cast<long long>(r.integer(0)), static_cast<long long>(r.integer(1)),
                    r.integer(1) == 1 ? "" : "s", static_cast<double>(now - r.integer(2)) / 1000.0);
    // Games kept before the board kept them as played, still to be played again.
    const std::int64_t as_sent =
        db.run("SELECT count(*) FROM games WHERE status IN (1, 3) AND as_played = 0").at(0).integer(0);
    if (as_sent)
        std::printf("%lld game%s kept as sent, to be kept as played when a verifier is idle\n",
                    static_cast<long long>(as_sent), as_sent == 1 ? "" : "s");
    for (const Row& v : db.run("SELECT id, rules, seen_ms FROM verifiers ORDER BY id"))
        std::printf("verifier %s: rules version %lld, seen %.0f s ago\n", v.text(0).c_str(),
                    static_cast<long long>(v.integer(1)), static_cast<double>(now - v.integer(2)) / 1000.0);
    return 0;
}

int names(Db& db)
{
    const std::vector<NameRow> rows = list_names(db);
    std::printf("%d name%s held:\n", static_cast<int>(rows.size()), rows.size() == 1 ? "" : "s");
    for (const NameRow& n : rows)
        std::printf("%-16s  %s  %ld secret%s  %ld game%s on the board\n", n.name.c_str(),
                    n.reserved ? "reserved" : "owned   ", n.secrets, n.secrets == 1 ? "" : "s", n.games,
                    n.games == 1 ? "" : "s");
    return 0;
}

int operate(Db& db, const std::string& command, const std::vector<std::string>& words)
{
    std::string why, code, held;
    long games = 0;
    std::int64_t expires = 0;
    if (command == "release") {
        if (!release_name(db, words[0], &held, &games, &why))
            return fail(why);
        std::printf("released %s: it is free to claim; its %ld game%s on the board keep%s the name as text\n",
                    held.c_str(), games, games == 1 ? "" : "s", games == 1 ? "s" : "");
    } else if (command == "rename") {
        if (!rename_name(db, words[0], words[1], &held, &games, &why))
            return fail(why);
        std::printf("renamed %s to %s, and its %ld game%s on the board\n", held.c_str(), words[1].c_str(), games,
                    games == 1 ? "" : "s");
    } else {
        if (!pair_name(db, words[0], &held, &code, &expires, &why))
            return fail(why);
        std::printf("%s\npairing code for %s, good until %s: typed into \"I have a code\" on the player's page, "
                    "it gives that browser the name\n",
                    code.c_str(), held.c_str(), iso_time(expires).c_str());
    }
    return 0;
}

struct Command {
    const char* name;
    size_t words;  // words it takes before its options
};
const Command COMMANDS[] = {{"serve", 0}, {"worker", 0}, {"list", 0},    {"remove", 1}, {"queue", 0},
                            {"names", 0}, {"release", 1}, {"rename", 2}, {"pair", 1}};

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
        double seed = 0, spf = 0, second = 0;
        if (argc < 5 || argc > 6 || !number(argv[2], 0, 4294967295.0, &seed) || !number(argv[3], 1, 5, &spf) ||
            !number(argv[4], 1, 5, &second))
            return 2;
        return verify_worker_main(static_cast<std::uint32_t>(seed), spf, second, argc == 6 ? argv[5] : "");
    }
    if (command == "--help" || (argc > first && std::string(argv[first]) == "--help")) {
        std::fputs(USAGE, stdout);
        return 0;
    }
    if (!start_clock())
        return 1;
    const Command* which = nullptr;
    for (const Command& c : COMMANDS)
        if (command == c.name)
            which = &c;
    if (!which)
        return usage();

    ServerOptions o;
    BoardSettings& b = o.board;
    unsigned cores = std::thread::hardware_concurrency();
    o.http.threads = b.workers = cores > 0 ? static_cast<int>(cores) : 2;
    o.http.web_dir = "build-web/web";
    b.store.data_dir = "board-data";
    if (const char* url = std::getenv("KIV_BOARD_DATABASE"))
        b.store.database = url;
    std::vector<std::string> words;
    std::string web_given;
    double limit = 20;
    const bool serving = command == "serve", working = serving || command == "worker";
    // Each option: the commands it is for, and what it sets from its value.
    struct Option {
        const char* name;
        bool for_this;
        std::function<bool(const char*)> set;
    };
    auto whole = [](int* out, double low, double high) {
        return [out, low, high](const char* v) {
            double n = 0;
            return number(v, low, high, &n) && (*out = static_cast<int>(n), true);
        };
    };
    auto real = [](double* out, double low, double high) {
        return [out, low, high](const char* v) { return number(v, low, high, out); };
    };
    auto text = [](std::string* out) { return [out](const char* v) { return (*out = v, true); }; };
    const Option options[] = {
        {"--data", true, text(&b.store.data_dir)},
        {"--database", true, text(&b.store.database)},
        {"--limit", command == "list", real(&limit, 1, 1000000)},
        {"--listen", serving, text(&o.http.listen)},
        {"--port", serving, whole(&o.http.port, 0, 65535)},
        {"--web", serving, [&](const char* v) { return (o.http.web_dir = web_given = v, true); }},
        {"--allow-origin", serving, [&](const char* v) { return (o.http.allow_origins.push_back(v), true); }},
        {"--trusted-proxy", serving, [&](const char* v) { return (o.http.trusted_proxies.push_back(v), true); }},
        {"--threads", serving, whole(&o.http.threads, 1, 64)},
        {"--request-timeout", serving, real(&o.http.request_timeout, 1, 3600)},
        {"--tickets-per-minute", serving, real(&o.tickets_per_minute, 0.01, 1e6)},
        {"--board-tickets-per-minute", serving, real(&o.board_tickets_per_minute, 0.01, 1e7)},
        {"--games-per-minute", serving, real(&o.games_per_minute, 0.01, 1e6)},
        {"--names-per-minute", serving, real(&o.names_per_minute, 0.01, 1e6)},
        {"--starts-per-minute", serving, real(&o.starts_per_minute, 0.01, 1e6)},
        {"--reads-per-minute", serving, real(&o.reads_per_minute, 0.01, 1e6)},
        {"--queue", serving, whole(&b.queue, 0, 10000000)},
        {"--ticket-lifetime", serving, real(&b.ticket_lifetime, 1, 30 * 86400)},
        {"--pace-margin", serving, real(&b.pace_margin, 0, 86400)},
        {"--pace-tolerance", serving, real(&b.pace_tolerance, 0, 86400)},
        {"--watchers-per-client", serving, whole(&o.watchers_per_client, 1, 100000)},
        {"--watchers", serving, whole(&o.watchers, 1, MAX_CONNECTIONS)},
        {"--running-per-name", serving, whole(&b.running_per_name, 1, 1000000)},
        {"--running-per-client", serving, whole(&b.running_per_client, 1, 1000000)},
        {"--workers", working, whole(&b.workers, serving ? 0 : 1, 256)},
        {"--lease", working, real(&b.lease_seconds, 1, 3600)},
        {"--worker-cpu", working, whole(&b.verify.cpu_seconds, 1, 3600)},
        {"--worker-memory", working, [&](const char* v) {
             double n = 0;
             return number(v, 16, 65536, &n) && (b.verify.memory_mb = static_cast<long>(n), true);
         }},
        {"--worker-deadline", working, real(&b.verify.deadline_seconds, 0.1, 3600)},
        {"--max-steps-per-frame", working, real(&b.verify.max_steps_per_frame, 1, 5)},
        {"--max-steps-per-frame-in-second", working, real(&b.verify.max_steps_per_frame_in_second, 1, 5)},
        {"--worker-trial", working, text(&b.verify.trial)},
    };
    for (int i = first; i < argc; i++) {
        const std::string a = argv[i];
        if (a.rfind("--", 0) != 0) {
            if (words.size() >= which->words)
                return usage();
            words.push_back(a);
            continue;
        }
        const Option* option = nullptr;
        for (const Option& candidate : options)
            if (a == candidate.name && candidate.for_this)
                option = &candidate;
        if (!option || i + 1 >= argc || !option->set(argv[++i]))
            return usage();
    }
    if (words.size() != which->words)
        return usage();
    // Without --web, the web build of the checkout when there is one, else
    // the API alone.
    if (web_given.empty() && !std::filesystem::is_directory(o.http.web_dir))
        o.http.web_dir.clear();
    if (b.store.database.empty()) {
        std::error_code error;
        std::filesystem::create_directories(b.store.data_dir, error);
        if (error)
            return fail("cannot make " + b.store.data_dir + ": " + error.message());
    }
    if (serving)
        return serve(o);
    if (command == "worker")
        return work(b);
    try {
        const std::unique_ptr<Db> db = open_store(b.store);
        if (command == "list")
            return list(*db, static_cast<int>(limit));
        if (command == "remove")
            return remove_game(*db, words[0]);
        if (command == "queue")
            return queue(*db);
        if (command == "names")
            return names(*db);
        return operate(*db, command, words);
    } catch (const StoreError& e) {
        return fail(e.what());
    }
}
