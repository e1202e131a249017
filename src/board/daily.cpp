#include "board/daily.h"

#include <sodium.h>

#include <cmath>

#include "board/games.h"
#include "board/settings.h"

namespace kiv::board {

namespace {

// Days in a row with a ranked try, ending today or yesterday.
long streak(Db& db, std::int64_t owner, std::int64_t today)
{
    long days = 0;
    std::int64_t next = today;  // the day that continues the streak
    for (const Row& r : db.run("SELECT day FROM daily_tries WHERE owner = ? AND day <= ? ORDER BY day DESC",
                               {owner, day_of(today)})) {
        std::int64_t day = 0;
        if (!parse_day(r.text(0), &day))
            break;
        if (days == 0 && day == today - DAY_MS)
            next = day;  // none today yet: the streak may end yesterday
        if (day != next)
            break;
        days++;
        next -= DAY_MS;
    }
    return days;
}

} // namespace

DailyStart start_daily(Db& db, std::int64_t owner, const std::string& ticket, std::int64_t now)
{
    DailyStart d;
    d.day = day_of(now);
    db.run("INSERT INTO daily (day, seed, drawn_ms) VALUES (?, ?, ?) ON CONFLICT (day) DO NOTHING",
           {d.day, static_cast<std::int64_t>(randombytes_random()), now});
    d.seed = static_cast<std::uint32_t>(db.run("SELECT seed FROM daily WHERE day = ?", {d.day}).at(0).integer(0));
    db.run("INSERT INTO daily_tries (owner, day, ticket, started_ms) VALUES (?, ?, ?, ?) "
           "ON CONFLICT (owner, day) DO NOTHING",
           {owner, d.day, ticket, now});
    d.ranked = db.changes() == 1;
    return d;
}

std::int64_t replays_from(const std::string& day, double pace_margin)
{
    std::int64_t start = 0;
    parse_day(day, &start);
    return start + DAY_MS + LONGEST_GAME_MS + static_cast<std::int64_t>(std::ceil(pace_margin)) * 1000;
}

std::vector<Game> daily_top(Db& db, const std::string& day, int limit)
{
    std::vector<Game> games;
    for (const Row& r : db.run("SELECT id, name, score, time_ms, seconds FROM games WHERE status = 1 AND day = ? "
                               "ORDER BY score DESC, time_ms, id LIMIT ?",
                               {day, static_cast<std::int64_t>(limit)}))
        games.push_back(Game{r.integer(0), r.text(1), static_cast<int>(r.integer(2)), r.integer(3), r.real(4)});
    return games;
}

long daily_players(Db& db, const std::string& day)
{
    return static_cast<long>(db.run("SELECT count(*) FROM games WHERE status = 1 AND day = ?", {day}).at(0).integer(0));
}

long daily_rank(Db& db, const Game& g, const std::string& day)
{
    const std::int64_t score = g.score;
    return static_cast<long>(db.run("SELECT count(*) FROM games WHERE status = 1 AND day = ? AND (score > ? OR "
                                    "(score = ? AND (time_ms < ? OR (time_ms = ? AND id < ?))))",
                                    {day, score, score, g.time_ms, g.time_ms, g.id})
                                 .at(0)
                                 .integer(0)) +
           1;
}

Answer daily_today(Db& db, const std::optional<Owner>& owner, const std::string& today, long players)
{
    std::int64_t start = 0;
    parse_day(today, &start);
    json answer{{"date", today}, {"now", now_ms() / 1000}, {"ends", (start + DAY_MS) / 1000}, {"players", players}};
    if (!owner)
        return json_answer(200, answer);
    const Rows tried = db.run("SELECT g.id, g.status, g.score, g.time_ms, g.seconds, g.reason FROM daily_tries t "
                              "LEFT JOIN games g ON g.ticket = t.ticket WHERE t.owner = ? AND t.day = ?",
                              {owner->id, today});
    json game = nullptr;
    if (!tried.empty() && !tried[0].null(0)) {
        const Row& r = tried[0];
        const auto status = r.integer(1);
        game = json{{"id", r.integer(0)}, {"status", game_status_text(static_cast<int>(status))}, {"score", nullptr},
                    {"rank", nullptr}};
        if (status == ON_THE_BOARD) {
            game["score"] = r.integer(2);
            game["rank"] = daily_rank(db, Game{r.integer(0), owner->name, static_cast<int>(r.integer(2)),
                                               r.integer(3), r.real(4)},
                                      today);
        } else if (status == REFUSED) {
            game["reason"] = r.text(5);
        }
    }
    answer["you"] = json{{"name", owner->name}, {"tried", !tried.empty()}, {"game", game},
                         {"streak", streak(db, owner->id, start)}};
    return json_answer(200, answer);
}

} // namespace kiv::board
