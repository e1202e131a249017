// Daily Kiv: one seed a UTC day for the whole board, one ranked try a day
// for each name, and a board for each day.
//
// The day's seed is drawn from the CSPRNG at the day's first daily start
// and kept (every server of the board hands out the same; nobody can know
// it before its day). A daily game belongs to the day its ticket started
// in. A name's first daily start of a day is its ranked try, spent from
// that moment whatever follows; its later ones are practice, verified and
// kept on no board. The replays of a day's games are held back from
// everybody until no ticket of that day can take a game any more.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "board/http.h"
#include "board/owners.h"
#include "board/top.h"

namespace kiv::board {

struct DailyStart {
    std::string day;  // YYYY-MM-DD
    std::uint32_t seed = 0;
    bool ranked = false;
};

// In a start's transaction, for a daily ticket started at `now` by
// `owner`: the day's seed (drawn if the day has none yet), and whether this
// is the owner's ranked try of the day (which it then spends).
DailyStart start_daily(Db& db, std::int64_t owner, const std::string& ticket, std::int64_t now);

// When a day's replays may be served: the day's end, plus the longest game
// a replay holds, plus the pace margin (the last moment a game started on
// that day can arrive).
std::int64_t replays_from(const std::string& day, double pace_margin);

// A day's ranked games on its board, best first; how many there are; a
// game's place among them.
std::vector<Game> daily_top(Db& db, const std::string& day, int limit);
long daily_players(Db& db, const std::string& day);
long daily_rank(Db& db, const Game& game, const std::string& day);

// GET /api/daily: today's date, the board's clock, today's end and its
// players (as counted by the caller); with a name's secret, that name's
// try, game and streak.
Answer daily_today(Db& db, const std::optional<Owner>& owner, const std::string& today, long players);

} // namespace kiv::board
