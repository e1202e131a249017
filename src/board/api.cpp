#include "board/api.h"

#include <signal.h>
#include <sodium.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "board/daily.h"
#include "board/games.h"
#include "board/live.h"
#include "board/owners.h"
#include "board/queue.h"
#include "board/rate.h"
#include "board/stream.h"
#include "board/tickets.h"
#include "board/top.h"

namespace kiv::board {

namespace {

using Clock = std::chrono::steady_clock;
constexpr int RETRY_BUSY = 5;  // seconds, when the database cannot be reached
// Requests a minute on one ticket in play (its game sent, and sent again
// while its answer is lost; leaving it): far more than a page makes.
constexpr double TICKET_REQUESTS_PER_MINUTE = 60;
// Chunks a minute on one game in play: a page sends one a second, and
// its resends.
constexpr double CHUNKS_PER_MINUTE = 240;

bool read_limit(const char* text, long* limit, Answer* refusal);

class Api {
public:
    explicit Api(const ServerOptions& o)
        : options_(o), tickets_(o.tickets_per_minute, o.board_tickets_per_minute), games_(o.games_per_minute),
          names_(o.names_per_minute), starts_(o.starts_per_minute), reads_(o.reads_per_minute),
          in_play_(TICKET_REQUESTS_PER_MINUTE), chunks_(CHUNKS_PER_MINUTE),
          live_(o.board, o.watchers_per_client, o.watchers),
          verifiers_(o.board, [this] { top_.stale(); })
    {
    }

    Answer answer(HttpRequest& r)
    {
        try {
            return route(r);
        } catch (const StoreError& e) {
            std::fprintf(stderr, "kiv-board: %s\n", e.what());
            return busy(503, "The board's database cannot be reached; try again shortly.", RETRY_BUSY);
        }
    }

    Verifiers& verifiers() { return verifiers_; }
    LiveHub& live() { return live_; }

    // Every minute the rate limits forget the clients whose buckets are full again.
    void forget_full()
    {
        for (RateLimit* limit : {&tickets_, &games_, &names_, &starts_, &reads_})
            limit->forget_full(Clock::now());
        in_play_.forget_full(Clock::now());
        chunks_.forget_full(Clock::now());
    }

private:
    Answer route(HttpRequest& r);
    Answer top(const HttpRequest& r);
    Answer game(HttpRequest& r);
    Answer chunk(HttpRequest& r, const std::string& ticket);
    // Tells this server's watchers of what a request held.
    void held(const Held& h)
    {
        if (!h.live.empty())
            live_.poke(h.live);
    }
    long watching(const std::string& live) { return live_.watching(live); }
    // A token of `limit` for the request's client, or the 429 that says so.
    bool limited(RateLimit& limit, const HttpRequest& r, const char* what, Answer* refusal);
    // A token of the ticket's own bucket, or the 429 that says so.
    bool ticket_limited(TicketLimit& limit, const std::string& ticket, Answer* refusal);

    // One connection for each of the server's threads, opened at its first use.
    Db& db()
    {
        thread_local std::unique_ptr<Db> mine;
        if (!mine)
            mine = open_store(options_.board.store);
        return *mine;
    }

    ServerOptions options_;
    RateLimit tickets_, games_, names_, starts_, reads_;
    TicketLimit in_play_, chunks_;
    TopCache top_;
    LiveHub live_;
    LiveList live_list_;
    Verifiers verifiers_;
};

bool Api::limited(RateLimit& limit, const HttpRequest& r, const char* what, Answer* refusal)
{
    int retry = 0;
    switch (limit.take(r.client, Clock::now(), &retry)) {
    case RateLimit::taken:
        return false;
    case RateLimit::address_limited:
        *refusal = busy(429, std::string("Too many ") + what + " from this address; try again later.", retry);
        return true;
    case RateLimit::network_limited:
        *refusal = busy(429, std::string("This network has taken its share of the board's ") + what +
                                 " for now; try again shortly.",
                        retry);
        return true;
    case RateLimit::board_limited:
        *refusal = busy(429, std::string("The board is handing out too many ") + what + " at once; try again shortly.",
                        retry);
        return true;
    }
    return false;
}

bool Api::ticket_limited(TicketLimit& limit, const std::string& ticket, Answer* refusal)
{
    int retry = 0;
    if (limit.take(ticket, Clock::now(), &retry))
        return false;
    *refusal = busy(429, "Too many requests on this ticket; try again later.", retry);
    return true;
}

// POST /api/games. A game on a ticket in play (started, its secret spent on
// the start; or its game sent, and sent again) meets its ticket's limit
// alone, never its address's: others' requests from the address cannot
// lose it. Anything else is refused as soon as it is read, at the cost of
// a token of its address.
Answer Api::game(HttpRequest& r)
{
    Answer refusal;
    Submission s;
    const bool read = read_submission(r.body, &s, &refusal);
    std::string().swap(r.body);
    const TicketState state = read ? ticket_state(db(), s.ticket) : NO_TICKET;
    if (state != STARTED && state != SENT)
        return limited(games_, r, "games", &refusal) || !read ? refusal : ticket_refusal(db(), s.ticket);
    if (ticket_limited(in_play_, s.ticket, &refusal))
        return refusal;
    bool queued = false;
    Held end;
    Answer a = submit_game(db(), options_.board, std::move(s), owner_of(db(), r.header("Authorization")), r.arrived_ms,
                           &queued, &end);
    if (queued)
        verifiers_.wake();
    held(end);
    return a;
}

// POST /api/tickets/ID/steps. A chunk on a game in play with its name's
// secret meets its ticket's limit alone; anything else is refused, at
// the cost of a token of its address's games.
Answer Api::chunk(HttpRequest& r, const std::string& ticket)
{
    Answer refusal;
    ChunkRequest c;
    const std::optional<Owner> owner = owner_of(db(), r.header("Authorization"));
    const bool in_play = owner && ticket_state(db(), ticket) == STARTED;
    if (in_play ? ticket_limited(chunks_, ticket, &refusal) : limited(games_, r, "games", &refusal))
        return refusal;
    if (!read_chunk_request(r.body, &c, &refusal))
        return refusal;
    std::string().swap(r.body);
    Held h;
    Answer a = take_chunk(db(), options_.board, ticket, c, owner, r.arrived_ms,
                          [this](const std::string& live) { return watching(live); }, &h);
    held(h);
    return a;
}

Answer Api::route(HttpRequest& r)
{
    const std::string& path = r.path;
    const bool post = r.method == "POST", get = r.method == "GET" || r.method == "HEAD";
    // What changes the board comes from this board's page or an allowed one;
    // bodies as JSON: another site's page can send JSON (or an
    // Authorization header) only after a preflight, which it gets no leave
    // from.
    if (post && !r.from_allowed_page())
        return error(403, "Requests from other sites' pages are not taken.");
    const bool abandon = path.size() > 8 && path.compare(path.size() - 8, 8, "/abandon") == 0;
    if (post && !abandon && !r.is_json())
        return error(400, "Send the request as JSON (Content-Type: application/json).");
    Answer refusal;

    if (path == "/api/top") {
        if (!get)
            return error(405, "Use GET for the board.");
        return top(r);
    }
    if (path == "/api/tickets") {
        if (!post)
            return error(405, "Use POST for a ticket.");
        if (limited(tickets_, r, "tickets", &refusal))
            return refusal;
        return issue_ticket(db(), options_.board, r.body);
    }
    if (path.rfind("/api/tickets/", 0) == 0) {
        const std::string rest = path.substr(13);
        const size_t slash = rest.find('/');
        const std::string id = rest.substr(0, slash), action = slash == std::string::npos ? "" : rest.substr(slash);
        if (!ticket_id_ok(id) || (action != "/start" && action != "/abandon" && action != "/steps"))
            return error(404, "There is no such API endpoint.");
        if (!post)
            return error(405, "Use POST to start, stream or leave a ticket's game.");
        if (action == "/steps")
            return chunk(r, id);
        if (action == "/abandon") {
            // A game in play is left once, whatever its address sent.
            if (ticket_state(db(), id) == STARTED ? ticket_limited(in_play_, id, &refusal)
                                                  : limited(starts_, r, "requests for tickets", &refusal))
                return refusal;
            return abandon_ticket(db(), id);
        }
        if (limited(starts_, r, "starts", &refusal))
            return refusal;
        return start_ticket(db(), options_.board, id, r.body, owner_of(db(), r.header("Authorization")), r.client);
    }
    if (path == "/api/games") {
        if (!post)
            return error(405, "Use POST to send a game.");
        return game(r);
    }
    if (path.rfind("/api/games/", 0) == 0) {
        if (!get)
            return error(405, "Use GET for a game.");
        if (limited(reads_, r, "requests for games", &refusal))
            return refusal;
        std::string rest = path.substr(11);
        const std::string suffix = "/replay";
        const bool replay = rest.size() > suffix.size() &&
                            rest.compare(rest.size() - suffix.size(), suffix.size(), suffix) == 0;
        return read_game(db(), options_.board, replay ? rest.substr(0, rest.size() - suffix.size()) : rest, replay);
    }
    if (path == "/api/live" || path.rfind("/api/live/", 0) == 0) {
        if (!get)
            return error(405, "Use GET to watch games live.");
        if (path == "/api/live") {
            long limit = 10;
            if (!read_limit(r.argument("limit"), &limit, &refusal))
                return refusal;
            return live_list_.get(db(), options_.board, limit, options_.top_cache_age);
        }
        if (limited(reads_, r, "requests for games", &refusal))
            return refusal;
        // A reconnecting EventSource says where it was.
        const char* from_text = r.header("Last-Event-ID") ? r.header("Last-Event-ID") : r.argument("from");
        std::int64_t from = 0;
        if (from_text && !parse_game_id(from_text, &from))
            return error(400, "The step to watch from is a whole number.");
        return live_.watch(db(), path.substr(10), from, r.client);
    }
    if (path == "/api/daily") {
        if (!get)
            return error(405, "Use GET for the daily.");
        // A secret that holds no name is refused, as everywhere.
        const char* secret = r.header("Authorization");
        const std::optional<Owner> owner = owner_of(db(), secret);
        if (secret && !owner)
            return no_owner();
        const std::string today = day_of(now_ms());
        return daily_today(db(), owner, today, top_.players(today, db(), options_.top_cache_age));
    }
    if (path == "/api/names") {
        if (!post)
            return error(405, "Use POST to claim a name.");
        if (limited(names_, r, "names", &refusal))
            return refusal;
        return claim_name(db(), r.body);
    }
    if (path == "/api/names/me") {
        if (!get)
            return error(405, "Use GET for the name a secret holds.");
        const std::optional<Owner> owner = owner_of(db(), r.header("Authorization"));
        return owner ? json_answer(200, json{{"name", owner->name}}) : no_owner();
    }
    if (path == "/api/names/pairing" || path == "/api/names/paired") {
        if (!post)
            return error(405, "Use POST for a pairing code.");
        if (limited(names_, r, "pairing codes", &refusal))
            return refusal;
        if (path == "/api/names/paired")
            return use_pairing(db(), r.body);
        const std::optional<Owner> owner = owner_of(db(), r.header("Authorization"));
        return owner ? make_pairing(db(), *owner) : no_owner();
    }
    return error(404, "There is no such API endpoint.");
}

// ?limit=N, from 1 to 100.
bool read_limit(const char* text, long* limit, Answer* refusal)
{
    if (!text)
        return true;
    char* end = nullptr;
    errno = 0;
    *limit = std::strtol(text, &end, 10);
    if (!*text || *end || errno || *limit < 1 || *limit > TOP_ROWS) {
        *refusal = error(400, "The limit is a number from 1 to 100.");
        return false;
    }
    return true;
}

Answer Api::top(const HttpRequest& r)
{
    const std::string period = r.argument("period") ? r.argument("period") : "all";
    const char* limit_text = r.argument("limit");
    const char* date = r.argument("date");
    const int p = TopCache::find(period);
    if (p < 0 && period != "daily")
        return error(400, "The period is day, week, all or daily.");
    std::int64_t day_start = 0;
    if (date && (period != "daily" || !parse_day(date, &day_start)))
        return error(400, period == "daily" ? "The date is a day written YYYY-MM-DD, such as 2026-12-07."
                                            : "A date is given with period=daily only.");
    long limit = 10;
    Answer refusal;
    if (!read_limit(limit_text, &limit, &refusal))
        return refusal;
    if (p < 0)
        return Answer{200,
                      top_.get_daily(date ? date : day_of(now_ms()), limit, db(), options_.top_cache_age,
                                     options_.board.pace_margin),
                      "application/json",
                      {}};
    return Answer{200, top_.get(p, limit, db(), options_.top_cache_age), "application/json", {}};
}

// Before a server or worker starts: libsodium, the database (made or
// upgraded), and a worker that shuts itself in.
bool ready(const BoardSettings& settings)
{
    if (sodium_init() < 0) {
        std::fprintf(stderr, "kiv-board: libsodium cannot start\n");
        return false;
    }
    signal(SIGPIPE, SIG_IGN);
    try {
        open_store(settings.store);
    } catch (const StoreError& e) {
        std::fprintf(stderr, "kiv-board: %s\n", e.what());
        return false;
    }
    if (settings.workers <= 0)
        return true;
    // (With time enough for a machine that is busy: it is the shutting in
    // that is checked, not the speed.)
    VerifySettings plain = settings.verify;
    plain.trial.clear();
    plain.deadline_seconds = std::max(plain.deadline_seconds, 30.0);
    const Verdict trial = run_worker(plain, "", 0);
    if (trial.kind == Verdict::failed) {
        std::fprintf(stderr, "kiv-board: games cannot be verified here: %s\n", trial.error.c_str());
        return false;
    }
    return true;
}

// SIGINT and SIGTERM, blocked in every thread started after this, and
// waited for by the caller alone.
sigset_t stop_signals()
{
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    return stop;
}

const char* where(const StoreConfig& store)
{
    static std::string text;
    text = store.database.empty() ? store.data_dir + "/board.sqlite" : "PostgreSQL";
    return text.c_str();
}

} // namespace

int serve(const ServerOptions& options)
{
    if (!ready(options.board))
        return 1;
    const sigset_t stop = stop_signals();
    Api api(options);
    HttpServer http(options.http, [&api](HttpRequest& r) { return api.answer(r); });
    if (!http.start())
        return 1;
    const bool v6 = options.http.listen.find(':') != std::string::npos;
    std::printf("kiv-board: serving http://%s%s%s:%u/ (board in %s)\n", v6 ? "[" : "", options.http.listen.c_str(),
                v6 ? "]" : "", http.port(), where(options.board.store));
    std::fflush(stdout);
    api.verifiers().start();
    api.live().start();
    // Every minute the games that stopped streaming are left; once an hour
    // the tickets that ended a day ago go.
    for (int minute = 1;; minute++) {
        timespec wait{60, 0};
        const int sig = sigtimedwait(&stop, nullptr, &wait);
        if (sig == SIGINT || sig == SIGTERM)
            break;
        api.forget_full();
        try {
            const std::unique_ptr<Db> db = open_store(options.board.store);
            sweep_streams(*db, options.board);
            if (minute % 60 == 0)
                sweep_tickets(*db);
        } catch (const StoreError& e) {
            std::fprintf(stderr, "kiv-board: %s\n", e.what());
        }
    }
    api.live().stop();
    http.stop();
    api.verifiers().stop();
    return 0;
}

int work(const BoardSettings& settings)
{
    if (settings.workers <= 0) {
        std::fprintf(stderr, "kiv-board: a worker needs --workers 1 or more\n");
        return 2;
    }
    if (!ready(settings))
        return 1;
    const sigset_t stop = stop_signals();
    Verifiers verifiers(settings, nullptr);
    verifiers.start();
    std::printf("kiv-board: verifying games of rules version %d with %d worker%s (board in %s)\n", RULES_VERSION,
                settings.workers, settings.workers == 1 ? "" : "s", where(settings.store));
    std::fflush(stdout);
    int sig = 0;
    while (sigwait(&stop, &sig) != 0 || (sig != SIGINT && sig != SIGTERM)) {
    }
    verifiers.stop();
    return 0;
}

} // namespace kiv::board
