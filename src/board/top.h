// The board as it is read: the best games of the last day, week and all
// time, and of the daily's days, kept in memory for at most a second so
// that a crowd asking for the board costs one query per period a second;
// and a game's ranks. Daily games are on their day's board only.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "board/http.h"
#include "board/store.h"

namespace kiv::board {

constexpr int TOP_ROWS = 100;

// A game on the board.
struct Game {
    std::int64_t id = 0;
    std::string name;
    int score = 0;
    std::int64_t time_ms = 0;  // when it was played (its arrival)
    double seconds = 0;        // how long it lasted
};

// Ranks count from 1: best score first, ties by earlier time, then by id.
struct Ranks {
    long day, week, all;
};
Ranks ranks_of(Db& db, const Game& game, std::int64_t now_ms);

// The best `limit` games on the board since since_ms.
std::vector<Game> top_games(Db& db, std::int64_t since_ms, int limit);

class TopCache {
public:
    // The period's index (day, week, all), or -1.
    static int find(const std::string& period);
    // GET /api/top's body for a period and limit, at most max_age seconds old.
    std::string get(int period, long limit, Db& db, double max_age);
    // The same of a day's daily board (period=daily&date=DAY): its games,
    // its players and when its replays are shown.
    std::string get_daily(const std::string& day, long limit, Db& db, double max_age, double pace_margin);
    // The ranked games on a day's board, as counted for get_daily.
    long players(const std::string& day, Db& db, double max_age);
    // A game went on the board: the next answer reads it again.
    void stale();

private:
    struct Entry {
        std::mutex mutex;
        std::condition_variable read;  // a reading has ended
        bool loaded = false;           // read at least once
        bool reading = false;          // a caller is reading it now
        bool stale = false;            // a game went on the board since it was read
        std::uint64_t generation = 0;  // of stale()
        std::vector<Game> rows;
        std::array<std::string, TOP_ROWS + 1> rendered;
        std::chrono::steady_clock::time_point at;
        long players = 0;  // of a daily board
    };
    struct Fresh {
        std::vector<Game> rows;
        long players = 0;
    };
    // Reads an entry again when it is due (stale, or older than max_age),
    // *lock held on entry and on return. One caller reads, without the lock,
    // while the others are answered from the rows before: a crowd never
    // waits for the database, but for an entry's first reading.
    static void refresh(Entry& e, std::unique_lock<std::mutex>& lock, double max_age,
                        const std::function<Fresh()>& read);
    // Its first `limit` rows in an answer beginning with `head`, rendered once.
    static const std::string& render(Entry& e, long limit, json head);

    // A day's entry, read again when due, its mutex held by *lock.
    std::shared_ptr<Entry> day_entry(const std::string& day, Db& db, double max_age, std::unique_lock<std::mutex>* lock);

    std::array<Entry, 3> entries_;
    // The days asked for lately, a few at most.
    struct Day {
        std::shared_ptr<Entry> entry;
        std::uint64_t used = 0;  // when it was last asked for
    };
    std::mutex days_mutex_;
    std::map<std::string, Day> days_;
    std::uint64_t uses_ = 0;
};

} // namespace kiv::board
