// What both kinds of storage share: opening by configuration, periods and
// times.
#include "board/store.h"

#include <chrono>
#include <ctime>

namespace kiv::board {

bool is_postgres_url(const std::string& s)
{
    return s.rfind("postgresql://", 0) == 0 || s.rfind("postgres://", 0) == 0;
}

std::unique_ptr<Store> open_store(const StoreConfig& config)
{
    if (!config.database.empty()) {
        if (!is_postgres_url(config.database))
            throw StoreError("--database takes a PostgreSQL URL (postgresql://...)");
        return open_postgres_store(config.database);
    }
    return open_sqlite_store(config.data_dir + "/board.sqlite");
}

bool period_start(const std::string& period, std::int64_t now, std::int64_t* since_ms)
{
    constexpr std::int64_t DAY = 24LL * 3600 * 1000;
    if (period == "day")
        *since_ms = now - DAY;
    else if (period == "week")
        *since_ms = now - 7 * DAY;
    else if (period == "all")
        *since_ms = 0;
    else
        return false;
    return true;
}

std::int64_t now_ms()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string iso_time(std::int64_t ms)
{
    std::time_t t = static_cast<std::time_t>(ms / 1000);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

bool parse_game_id(const std::string& text, std::int64_t* id)
{
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    *id = std::stoll(text);
    return true;
}

Ranks ranks_of(Store& store, const Game& game, std::int64_t now)
{
    Ranks r{};
    std::int64_t since = 0;
    period_start("day", now, &since);
    r.day = store.rank(game, since);
    period_start("week", now, &since);
    r.week = store.rank(game, since);
    r.all = store.rank(game, 0);
    return r;
}

} // namespace kiv::board
