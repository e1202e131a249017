#include "board/top.h"

#include <algorithm>

#include "board/daily.h"

namespace kiv::board {

namespace {

constexpr const char* PERIODS[3] = {"day", "week", "all"};
constexpr size_t DAYS_KEPT = 8;

// The start of a period: the last 24 hours, the last 7 days, or all.
std::int64_t period_start(int period, std::int64_t now)
{
    return period == 0 ? now - DAY_MS : period == 1 ? now - 7 * DAY_MS : 0;
}

long rank_since(Db& db, const Game& g, std::int64_t since_ms)
{
    return static_cast<long>(
               db.run("SELECT count(*) FROM games WHERE status = 1 AND day IS NULL AND time_ms >= ? AND (score > ? OR (score = ? AND "
                      "(time_ms < ? OR (time_ms = ? AND id < ?))))",
                      {since_ms, static_cast<std::int64_t>(g.score), static_cast<std::int64_t>(g.score), g.time_ms,
                       g.time_ms, g.id})
                   .at(0)
                   .integer(0)) +
           1;
}

} // namespace

Ranks ranks_of(Db& db, const Game& game, std::int64_t now)
{
    return Ranks{rank_since(db, game, period_start(0, now)), rank_since(db, game, period_start(1, now)),
                 rank_since(db, game, 0)};
}

std::vector<Game> top_games(Db& db, std::int64_t since_ms, int limit)
{
    std::vector<Game> games;
    for (const Row& r : db.run("SELECT id, name, score, time_ms, seconds FROM games WHERE status = 1 AND day IS NULL "
                               "AND time_ms >= ? "
                               "ORDER BY score DESC, time_ms, id LIMIT ?",
                               {since_ms, static_cast<std::int64_t>(limit)}))
        games.push_back(Game{r.integer(0), r.text(1), static_cast<int>(r.integer(2)), r.integer(3), r.real(4)});
    return games;
}

int TopCache::find(const std::string& period)
{
    for (int p = 0; p < 3; p++)
        if (period == PERIODS[p])
            return p;
    return -1;
}

void TopCache::refresh(Entry& e, std::unique_lock<std::mutex>& lock, double max_age,
                       const std::function<Fresh()>& read)
{
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        if (e.loaded && !e.stale && std::chrono::duration<double>(now - e.at).count() < max_age)
            return;
        if (!e.reading)
            break;
        if (e.loaded)
            return;  // being read: the rows before will do
        e.read.wait(lock);
    }
    e.reading = true;
    const std::uint64_t generation = e.generation;
    const auto at = std::chrono::steady_clock::now();
    lock.unlock();
    Fresh got;
    try {
        got = read();
    } catch (...) {
        lock.lock();
        e.reading = false;
        e.read.notify_all();
        throw;
    }
    lock.lock();
    e.reading = false;
    e.rows = std::move(got.rows);
    e.players = got.players;
    for (std::string& r : e.rendered)
        r.clear();
    e.at = at;
    e.loaded = true;
    e.stale = e.generation != generation;  // a game went on while it was read
    e.read.notify_all();
}

const std::string& TopCache::render(Entry& e, long limit, json head)
{
    std::string& body = e.rendered.at(static_cast<size_t>(limit));
    if (body.empty()) {
        json games = json::array();
        for (size_t i = 0; i < e.rows.size() && i < static_cast<size_t>(limit); i++) {
            const Game& g = e.rows[i];
            games.push_back(json{{"id", g.id}, {"name", g.name}, {"score", g.score}, {"time", iso_time(g.time_ms)}});
        }
        head["games"] = games;
        body = json_answer(200, head).body;
    }
    return body;
}

std::string TopCache::get(int period, long limit, Db& db, double max_age)
{
    Entry& e = entries_.at(static_cast<size_t>(period));
    std::unique_lock<std::mutex> lock(e.mutex);
    refresh(e, lock, max_age, [&] { return Fresh{top_games(db, period_start(period, now_ms()), TOP_ROWS), 0}; });
    return render(e, limit, json{{"period", PERIODS[period]}});
}

std::shared_ptr<TopCache::Entry> TopCache::day_entry(const std::string& day, Db& db, double max_age,
                                                     std::unique_lock<std::mutex>* lock)
{
    std::shared_ptr<Entry> e;
    {
        std::lock_guard<std::mutex> days(days_mutex_);
        Day& slot = days_[day];
        slot.used = ++uses_;
        if (!slot.entry) {
            slot.entry = std::make_shared<Entry>();
            // The day asked for longest ago makes room.
            if (days_.size() > DAYS_KEPT)
                days_.erase(std::min_element(days_.begin(), days_.end(), [](const auto& a, const auto& b) {
                    return a.second.used < b.second.used;
                }));
        }
        e = slot.entry;
    }
    *lock = std::unique_lock<std::mutex>(e->mutex);
    refresh(*e, *lock, max_age, [&] { return Fresh{daily_top(db, day, TOP_ROWS), daily_players(db, day)}; });
    return e;
}

std::string TopCache::get_daily(const std::string& day, long limit, Db& db, double max_age, double pace_margin)
{
    std::unique_lock<std::mutex> lock;
    const std::shared_ptr<Entry> e = day_entry(day, db, max_age, &lock);
    return render(*e, limit,
                  json{{"period", "daily"}, {"date", day}, {"players", e->players},
                       {"replays_from", replays_from(day, pace_margin) / 1000}});
}

long TopCache::players(const std::string& day, Db& db, double max_age)
{
    std::unique_lock<std::mutex> lock;
    return day_entry(day, db, max_age, &lock)->players;
}

void TopCache::stale()
{
    for (Entry& e : entries_) {
        std::lock_guard<std::mutex> lock(e.mutex);
        e.stale = true;
        e.generation++;
    }
    std::lock_guard<std::mutex> lock(days_mutex_);
    for (auto& [day, slot] : days_) {
        std::lock_guard<std::mutex> entry(slot.entry->mutex);
        slot.entry->stale = true;
        slot.entry->generation++;
    }
}

} // namespace kiv::board
