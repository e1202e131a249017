// The board's storage: tickets and games in SQLite (one file) or in
// PostgreSQL (shared by several servers), behind one interface. A Store is
// one connection: each thread opens its own.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kiv::board {

// A failure of the database itself (not of what a client sent).
struct StoreError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Ticket {
    std::string id;           // 32 lowercase hex digits
    std::uint32_t seed;
    std::int64_t created_ms;  // unix time in milliseconds
    std::int64_t expires_ms;
    bool used;
};

struct Game {
    std::int64_t id = 0;
    std::string name;
    int score = 0;
    std::int64_t time_ms = 0;  // when it went on the board
    double seconds = 0;        // how long the game lasted
};

// A verified game to put on the board.
struct NewGame {
    std::string name;
    int score;
    double seconds;
    std::int64_t time_ms;
    std::string replay;  // the bytes as submitted
};

// Ranks count from 1: best score first, ties by earlier time, then by id.
struct Ranks {
    long day, week, all;
};

enum class TakeResult { added, unknown_ticket, used_ticket, expired_ticket };

class Store {
public:
    virtual ~Store() = default;

    virtual void add_ticket(const Ticket& ticket) = 0;
    virtual std::optional<Ticket> ticket(const std::string& id) = 0;
    // In one transaction: marks the ticket used, unless it is unknown, used
    // or expired at `arrived_ms`, and puts the game on the board. Returns
    // only after the commit.
    virtual TakeResult add_game(const std::string& ticket, std::int64_t arrived_ms, const NewGame& game,
                                std::int64_t* id) = 0;
    // Games without a ticket, in one transaction (for filling a board to
    // measure it).
    virtual void add_games_unchecked(const std::vector<NewGame>& games) = 0;
    // The best `limit` games that went on the board at or after since_ms.
    virtual std::vector<Game> top(std::int64_t since_ms, int limit) = 0;
    virtual long rank(const Game& game, std::int64_t since_ms) = 0;
    virtual std::optional<Game> game(std::int64_t id) = 0;
    virtual std::optional<std::string> replay(std::int64_t id) = 0;
    // The newest games first.
    virtual std::vector<Game> latest(int limit) = 0;
    virtual bool remove(std::int64_t id) = 0;
    // Forgets tickets that expired before `before_ms`.
    virtual void drop_tickets(std::int64_t before_ms) = 0;
};

// Where the board is kept: a PostgreSQL URL (postgresql://... or
// postgres://...), or else the SQLite file board.sqlite in data_dir.
struct StoreConfig {
    std::string database;
    std::string data_dir;
};

bool is_postgres_url(const std::string& s);
// Opens a connection, creating the tables when they are missing.
std::unique_ptr<Store> open_store(const StoreConfig& config);
std::unique_ptr<Store> open_sqlite_store(const std::string& path);
std::unique_ptr<Store> open_postgres_store(const std::string& url);

// The start of a period of the board: "day" the last 24 hours, "week" the
// last 7 days, "all" everything. False for another name.
bool period_start(const std::string& period, std::int64_t now_ms, std::int64_t* since_ms);
std::int64_t now_ms();
// "2026-12-07T03:12:45Z"
std::string iso_time(std::int64_t ms);
// A game's id as given in a request or on the command line: digits only.
bool parse_game_id(const std::string& text, std::int64_t* id);
Ranks ranks_of(Store& store, const Game& game, std::int64_t now_ms);

} // namespace kiv::board
