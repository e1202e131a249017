#include "board/live.h"

#include <libpq-fe.h>
#include <poll.h>
#include <sodium.h>

#include <chrono>
#include <cstdio>

#include "board/daily.h"
#include "board/fields.h"
#include "board/games.h"
#include "board/rate.h"
#include "board/stream.h"
#include "board/top.h"
#include "frame/loop.h"

namespace kiv::board {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto RECOUNT = std::chrono::seconds(5);    // counts written, every game read again
constexpr auto QUIET = std::chrono::seconds(20);     // a comment to every watcher
constexpr std::int64_t COUNT_LIFE_MS = 15000;        // a server's counts, unless renewed

std::string event(const char* name, const json& data, std::int64_t id = -1)
{
    std::string text = id >= 0 ? "id: " + std::to_string(id) + "\n" : "";
    return text + "event: " + name + "\ndata: " + data.dump() + "\n\n";
}

// RETRY_WATCH seconds: a slot is freed within the hub's round of forgetting.
constexpr int RETRY_WATCH = 10;


// A game that stopped streaming is shown ended (to its watchers, and off
// the live list) once it is this much more than the margin behind: a chunk
// that arrived in time, which its arrival judges, may still wait its turn
// to be written, and the game then goes on.
constexpr std::int64_t SHOWN_SLACK_MS = std::chrono::milliseconds(RECOUNT).count();

} // namespace

Answer LiveList::get(Db& db, const BoardSettings& settings, long limit, double age)
{
    const auto fresh = Clock::now() - std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(age));
    std::unique_lock<std::mutex> lock(mutex_);
    // One reader at a time for each limit: the others wait for its answer,
    // or take the one before while it reads.
    for (;;) {
        auto k = kept_.find(limit);
        const bool kept = k != kept_.end();
        if (kept && (k->second.first > fresh || reading_.count(limit)))
            return Answer{200, k->second.second, "application/json", {}};
        if (!reading_.count(limit))
            break;
        read_.wait(lock);
    }
    reading_.insert(limit);
    lock.unlock();
    std::string body;
    const auto read_at = Clock::now();
    try {
        body = read(db, settings, limit);
    } catch (...) {
        lock.lock();
        reading_.erase(limit);
        read_.notify_all();
        throw;
    }
    lock.lock();
    reading_.erase(limit);
    kept_[limit] = {read_at, body};
    read_.notify_all();
    return Answer{200, body, "application/json", {}};
}

std::string LiveList::read(Db& db, const BoardSettings& settings, long limit)
{
    const std::int64_t now = now_ms();
    std::vector<Value> params{now};
    for (const Value& v : not_behind_at(now - SHOWN_SLACK_MS, settings.pace_margin))
        params.push_back(v);
    params.push_back(static_cast<std::int64_t>(limit));
    const Rows rows = db.run(
        std::string("SELECT t.live, o.name, t.started_ms, t.steps, (SELECT coalesce(sum(w.watchers), 0) FROM watching "
                    "w WHERE w.live = t.live AND w.until_ms > ?) FROM tickets t JOIN owners o ON o.id = t.owner "
                    "WHERE t.daily = 0 AND t.live IS NOT NULL AND t.state = 1 AND ") +
            NOT_BEHIND + " ORDER BY t.started_ms, t.live LIMIT ?",
        params);
    json games = json::array();
    for (const Row& r : rows)
        games.push_back(json{{"id", r.text(0)},
                             {"name", r.text(1)},
                             {"started", iso_time(r.integer(2))},
                             {"steps", r.integer(3)},
                             {"watching", r.integer(4)}});
    return json_answer(200, json{{"games", games}}).body;
}

LiveHub::LiveHub(const BoardSettings& settings, int per_client, int most)
    : settings_(settings), per_client_(per_client), most_(most)
{
    unsigned char drawn[8];
    randombytes_buf(drawn, sizeof drawn);
    char hex[17];
    server_ = sodium_bin2hex(hex, sizeof hex, drawn, sizeof drawn);
}

LiveHub::~LiveHub()
{
    stop();
}

void LiveHub::start()
{
    thread_ = std::thread([this] { run(); });
    if (is_postgres_url(settings_.store.database))
        listener_ = std::thread([this] { listen_postgres(); });
}

void LiveHub::stop()
{
    {
        std::lock_guard<std::mutex> lock(poke_mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
    if (listener_.joinable())
        listener_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& [live, game] : games_)
        for (Watcher& w : game.watchers)
            w.stream->close();
    games_.clear();
    clients_.clear();
    watchers_ = 0;
}

void LiveHub::poke(const std::string& live)
{
    {
        std::lock_guard<std::mutex> lock(poke_mutex_);
        poked_.insert(live);
    }
    wake_.notify_one();
}

Answer LiveHub::watch(Db& db, const std::string& live, std::int64_t from, const std::string& client)
{
    if (live.size() != 16 || live.find_first_not_of("0123456789abcdef") != std::string::npos)
        return error(404, "There is no such live game.");
    const Rows r = db.run("SELECT day FROM tickets WHERE live = ?", {live});
    if (r.empty())
        return error(404, "There is no such live game.");
    if (!r[0].null(0)) {
        // Its seed is the day's: a daily game is watched once no game of
        // its day can be played.
        const std::int64_t shown_from = replays_from(r[0].text(0), settings_.pace_margin);
        if (now_ms() < shown_from)
            return json_answer(403, json{{"error", "This daily game is shown from " + iso_time(shown_from) +
                                                       ", when the day's last game is over."},
                                         {"replays_from", shown_from / 1000}});
    }
    Answer a{200, "", "text/event-stream", {{"X-Accel-Buffering", "no"}}};
    a.stream = std::make_shared<EventStream>();
    std::vector<std::pair<std::string, int>> networks;  // each with the streams it may open
    for (const auto& [k, scale] : client_networks(client))
        networks.emplace_back(std::string(k.begin(), k.end()), static_cast<int>(per_client_ * scale));
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_)  // (every stream is ended before the HTTP side stops)
            return busy(503, "The server is stopping; try again shortly.", 5);
        // (Players' chunks need connections too: watchers take at most
        // `most` of them.)
        if (watchers_ >= most_)
            return busy(503, "This server shows as many live games as it can at once; try again shortly.",
                        RETRY_WATCH);
        for (const auto& [network, may] : networks) {
            auto c = clients_.find(network);
            if (c != clients_.end() && c->second >= may)
                return busy(429, "This address watches as many games as it may at once; close one first.",
                            RETRY_WATCH);
        }
        Watcher w{a.stream, from, false, {}};
        for (const auto& n : networks) {
            clients_[n.first]++;
            w.networks.push_back(n.first);
        }
        watchers_++;
        games_[live].watchers.push_back(std::move(w));
    }
    poke(live);
    return a;
}

void LiveHub::listen_postgres()
{
    while (!stopping_) {
        PGconn* c = PQconnectdb(settings_.store.database.c_str());
        PGresult* listening = PQstatus(c) == CONNECTION_OK ? PQexec(c, "LISTEN kiv_live") : nullptr;
        const bool ok = listening && PQresultStatus(listening) == PGRES_COMMAND_OK;
        PQclear(listening);
        while (ok && !stopping_) {
            pollfd p{PQsocket(c), POLLIN, 0};
            if (poll(&p, 1, 500) < 0 || (p.revents && !PQconsumeInput(c)))
                break;
            while (PGnotify* n = PQnotifies(c)) {
                const std::string payload = n->extra;
                PQfreemem(n);
                poke(payload.substr(0, payload.find(' ')));
            }
        }
        PQfinish(c);
        // (Every game is read again every few seconds: nothing is lost meanwhile.)
        for (int i = 0; i < 10 && !stopping_; i++)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

void LiveHub::run()
{
    std::unique_ptr<Db> db;
    auto recount = Clock::now() + RECOUNT, quiet = Clock::now() + QUIET;
    while (!stopping_) {
        std::set<std::string> poked;
        std::map<std::string, std::vector<Watcher>> work;
        bool comment = false;
        {
            std::unique_lock<std::mutex> lock(poke_mutex_);
            wake_.wait_until(lock, std::min(recount, quiet), [this] { return stopping_ || !poked_.empty(); });
            if (stopping_)
                break;
            poked.swap(poked_);
        }
        const bool all = Clock::now() >= recount;
        comment = Clock::now() >= quiet;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            // The watchers gone are forgotten, every few seconds.
            for (auto g = all ? games_.begin() : games_.end(); g != games_.end();) {
                auto& ws = g->second.watchers;
                for (auto w = ws.begin(); w != ws.end();)
                    if (w->stream->gone()) {
                        for (const std::string& n : w->networks)
                            if (--clients_[n] == 0)
                                clients_.erase(n);
                        watchers_--;
                        w = ws.erase(w);
                    } else {
                        ++w;
                    }
                g = ws.empty() ? games_.erase(g) : std::next(g);
            }
            if (all) {
                for (auto& [live, game] : games_)
                    work[live] = game.watchers;
            } else {
                for (const std::string& live : poked) {
                    auto g = games_.find(live);
                    if (g != games_.end())
                        work[live] = g->second.watchers;
                }
            }
        }
        try {
            if (!db)
                db = open_store(settings_.store);
            for (auto& [live, watchers] : work) {
                update(*db, live, watchers);
                // What each was given. The copy is where the game's watchers
                // begin: since it was taken, watchers were only added (they
                // are forgotten by this thread alone).
                std::lock_guard<std::mutex> lock(mutex_);
                auto g = games_.find(live);
                if (g == games_.end())
                    continue;
                auto& ws = g->second.watchers;
                for (size_t i = 0; i < watchers.size() && i < ws.size(); i++)
                    if (ws[i].stream == watchers[i].stream) {
                        ws[i].at = watchers[i].at;
                        ws[i].announced = watchers[i].announced;
                    }
            }
            if (Clock::now() >= recount) {
                count(*db);
                recount = Clock::now() + RECOUNT;
            }
        } catch (const StoreError& e) {
            std::fprintf(stderr, "kiv-board: %s\n", e.what());
            db.reset();
        }
        if (comment) {
            std::lock_guard<std::mutex> lock(mutex_);
            for (auto& [live, game] : games_)
                for (Watcher& w : game.watchers)
                    w.stream->push(":\n\n", false, MAX_WATCHER_WAITING);
            quiet = Clock::now() + QUIET;
        }
    }
}

void LiveHub::update(Db& db, const std::string& live, std::vector<Watcher>& watchers)
{
    const Rows t = db.run("SELECT t.ticket, t.state, t.steps, t.header, t.end_status, t.end_reason, t.seed, "
                          "t.started_ms, o.name, t.streamed FROM tickets t LEFT JOIN owners o ON o.id = t.owner "
                          "WHERE t.live = ?",
                          {live});
    if (t.empty()) {
        for (Watcher& w : watchers)
            w.stream->close();
        return;
    }
    const Row& tk = t[0];
    const std::string ticket = tk.text(0);
    const std::int64_t steps = tk.integer(2);
    std::int64_t least = steps;
    for (const Watcher& w : watchers)
        least = std::min(least, w.at);
    // The chunks some watcher lacks, read once.
    const Rows chunks = least < steps
                            ? db.run("SELECT from_step, to_step, body FROM chunks WHERE ticket = ? AND to_step > ? "
                                     "ORDER BY from_step",
                                     {ticket, least})
                            : Rows{};
    const long watching = this->watching(live);
    // The end, once the game is no longer played.
    const bool running = tk.integer(1) == STARTED &&
                         !fell_behind(tk.integer(7), steps, now_ms() - SHOWN_SLACK_MS, settings_.pace_margin);
    std::string end;
    if (!running) {
        json e{{"steps", steps}, {"game", nullptr}};
        const Rows g = tk.integer(1) == SENT ? db.run("SELECT id, status FROM games WHERE ticket = ?", {ticket}) : Rows{};
        if (!g.empty()) {
            e["game"] = g[0].integer(0);
            e["status"] = game_status_text(static_cast<int>(g[0].integer(1)));
        } else if (!tk.null(4) || tk.integer(1) == STARTED) {
            e["status"] = "ended";
            e["reason"] = tk.null(5) ? behind_reason(settings_.pace_margin) : tk.text(5);
        } else {
            e["status"] = "left";
        }
        end = event("end", e);
    }
    const std::string announce =
        tk.null(3) ? ""
                   : event("game", json{{"id", live},
                                        {"name", tk.null(8) ? "" : tk.text(8)},
                                        {"seed", tk.integer(6)},
                                        {"started", iso_time(tk.integer(7))},
                                        {"header", to_base64(tk.text(3))},
                                        {"steps", steps},
                                        {"watching", watching}});
    // The chunks from each `at`: shared by every watcher at it. (The chunks
    // were read after the ticket: they may go past its steps, never stop
    // short of them.)
    std::map<std::int64_t, std::pair<std::string, std::int64_t>> from_at;
    for (Watcher& w : watchers) {
        std::string text;
        // A new watcher's first text, the game so far as one event, is kept
        // whatever its size: the cap holds what waits beyond it, so that a
        // long game is watched from its start.
        const bool first = !w.announced && !announce.empty();
        if (first) {
            text = announce;
            w.announced = true;
        }
        if (w.announced && w.at < steps) {
            auto cached = from_at.find(w.at);
            if (cached == from_at.end()) {
                std::vector<std::string> bodies;
                std::int64_t first = -1, last = w.at;
                for (const Row& c : chunks)
                    if (c.integer(1) > w.at) {
                        if (first < 0)
                            first = c.integer(0);
                        bodies.push_back(c.text(2));
                        last = c.integer(1);
                    }
                std::string e;
                if (!bodies.empty())
                    e = event("chunk",
                              json{{"steps", first},
                                   {"to", last},
                                   {"chunk", to_base64(bodies.size() == 1 ? bodies[0] : join_chunks(bodies))},
                                   {"watching", watching}},
                              last);
                cached = from_at.emplace(w.at, std::make_pair(e, last)).first;
            }
            text += cached->second.first;
            w.at = cached->second.second;
        }
        if (!text.empty() || !end.empty())
            w.stream->push(text + end, !end.empty(), MAX_WATCHER_WAITING, first);
    }
}

void LiveHub::count(Db& db)
{
    std::map<std::string, long> counts;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto& [live, game] : games_)
            counts[live] = static_cast<long>(game.watchers.size());
    }
    const std::int64_t until = now_ms() + COUNT_LIFE_MS;
    Transaction t(db);
    db.run("DELETE FROM watching WHERE server = ? OR until_ms < ?", {server_, now_ms()});
    for (const auto& [live, n] : counts)
        db.run("INSERT INTO watching (server, live, watchers, until_ms) VALUES (?, ?, ?, ?)",
               {server_, live, static_cast<std::int64_t>(n), until});
    t.commit();
    std::map<std::string, long> sums;
    for (const Row& r : db.run("SELECT live, sum(watchers) FROM watching GROUP BY live"))
        sums[r.text(0)] = static_cast<long>(r.integer(1));
    std::lock_guard<std::mutex> lock(counts_mutex_);
    watching_.swap(sums);
}

long LiveHub::watching(const std::string& live)
{
    std::lock_guard<std::mutex> lock(counts_mutex_);
    auto w = watching_.find(live);
    return w == watching_.end() ? 0 : w->second;
}

} // namespace kiv::board
