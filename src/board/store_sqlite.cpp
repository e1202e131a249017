// The board in one SQLite file: WAL, synchronous=FULL, so a game answered
// 201 is on disk whatever happens to the process or the machine after.
#include <sqlite3.h>

#include <cstring>

#include "board/store.h"

namespace kiv::board {

namespace {

const char* const SCHEMA = R"(
CREATE TABLE IF NOT EXISTS tickets (
    ticket TEXT PRIMARY KEY,
    seed INTEGER NOT NULL,
    created_ms INTEGER NOT NULL,
    expires_ms INTEGER NOT NULL,
    used INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX IF NOT EXISTS tickets_expiry ON tickets (expires_ms);
CREATE TABLE IF NOT EXISTS games (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    name TEXT NOT NULL,
    score INTEGER NOT NULL,
    time_ms INTEGER NOT NULL,
    seconds REAL NOT NULL,
    replay BLOB NOT NULL
);
CREATE INDEX IF NOT EXISTS games_rank ON games (score DESC, time_ms, id);
CREATE INDEX IF NOT EXISTS games_time ON games (time_ms);
)";

class Statement {
public:
    Statement(sqlite3* db, const char* sql)
    {
        if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK)
            throw StoreError(std::string("SQLite: ") + sqlite3_errmsg(db));
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int i, std::int64_t v)
    {
        sqlite3_bind_int64(stmt_, i, v);
        return *this;
    }
    Statement& bind(int i, double v)
    {
        sqlite3_bind_double(stmt_, i, v);
        return *this;
    }
    Statement& bind(int i, const std::string& v)
    {
        sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& bind_blob(int i, const std::string& v)
    {
        sqlite3_bind_blob(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    // True while there is a row.
    bool step()
    {
        int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        throw StoreError(std::string("SQLite: ") + sqlite3_errmsg(sqlite3_db_handle(stmt_)));
    }
    std::int64_t integer(int col) { return sqlite3_column_int64(stmt_, col); }
    double real(int col) { return sqlite3_column_double(stmt_, col); }
    std::string text(int col)
    {
        const void* p = sqlite3_column_blob(stmt_, col);
        int n = sqlite3_column_bytes(stmt_, col);
        return p ? std::string(static_cast<const char*>(p), static_cast<size_t>(n)) : std::string();
    }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

Game game_of(Statement& s)
{
    Game g;
    g.id = s.integer(0);
    g.name = s.text(1);
    g.score = static_cast<int>(s.integer(2));
    g.time_ms = s.integer(3);
    g.seconds = s.real(4);
    return g;
}

class SqliteStore : public Store {
public:
    explicit SqliteStore(const std::string& path)
    {
        if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                            nullptr) != SQLITE_OK) {
            std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
            sqlite3_close(db_);
            throw StoreError("cannot open " + path + ": " + message);
        }
        sqlite3_busy_timeout(db_, 10000);
        exec("PRAGMA journal_mode=WAL");
        exec("PRAGMA synchronous=FULL");
        exec("PRAGMA foreign_keys=ON");
        exec(SCHEMA);
    }
    ~SqliteStore() override { sqlite3_close(db_); }

    void add_ticket(const Ticket& t) override
    {
        Statement s(db_, "INSERT INTO tickets (ticket, seed, created_ms, expires_ms, used) VALUES (?, ?, ?, ?, 0)");
        s.bind(1, t.id).bind(2, static_cast<std::int64_t>(t.seed)).bind(3, t.created_ms).bind(4, t.expires_ms);
        s.step();
    }

    std::optional<Ticket> ticket(const std::string& id) override
    {
        Statement s(db_, "SELECT seed, created_ms, expires_ms, used FROM tickets WHERE ticket = ?");
        s.bind(1, id);
        if (!s.step())
            return std::nullopt;
        return Ticket{id, static_cast<std::uint32_t>(s.integer(0)), s.integer(1), s.integer(2), s.integer(3) != 0};
    }

    TakeResult add_game(const std::string& ticket, std::int64_t arrived_ms, const NewGame& g,
                        std::int64_t* id) override
    {
        // IMMEDIATE: the write lock from the start, so two servers or threads
        // cannot both see the ticket unused.
        exec("BEGIN IMMEDIATE");
        try {
            Statement t(db_, "SELECT expires_ms, used FROM tickets WHERE ticket = ?");
            t.bind(1, ticket);
            TakeResult result = TakeResult::added;
            if (!t.step())
                result = TakeResult::unknown_ticket;
            else if (t.integer(1) != 0)
                result = TakeResult::used_ticket;
            else if (t.integer(0) <= arrived_ms)
                result = TakeResult::expired_ticket;
            if (result != TakeResult::added) {
                exec("ROLLBACK");
                return result;
            }
            Statement u(db_, "UPDATE tickets SET used = 1 WHERE ticket = ?");
            u.bind(1, ticket).step();
            *id = insert(g);
            exec("COMMIT");
            return TakeResult::added;
        } catch (...) {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
    }

    void add_games_unchecked(const std::vector<NewGame>& games) override
    {
        exec("BEGIN IMMEDIATE");
        try {
            for (const NewGame& g : games)
                insert(g);
            exec("COMMIT");
        } catch (...) {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
    }

    std::vector<Game> top(std::int64_t since_ms, int limit) override
    {
        Statement s(db_, "SELECT id, name, score, time_ms, seconds FROM games WHERE time_ms >= ? "
                         "ORDER BY score DESC, time_ms, id LIMIT ?");
        s.bind(1, since_ms).bind(2, static_cast<std::int64_t>(limit));
        std::vector<Game> games;
        while (s.step())
            games.push_back(game_of(s));
        return games;
    }

    long rank(const Game& g, std::int64_t since_ms) override
    {
        Statement s(db_, "SELECT count(*) FROM games WHERE time_ms >= ?1 AND (score > ?2 OR (score = ?2 AND "
                         "(time_ms < ?3 OR (time_ms = ?3 AND id < ?4))))");
        s.bind(1, since_ms).bind(2, static_cast<std::int64_t>(g.score)).bind(3, g.time_ms).bind(4, g.id);
        s.step();
        return static_cast<long>(s.integer(0)) + 1;
    }

    std::optional<Game> game(std::int64_t id) override
    {
        Statement s(db_, "SELECT id, name, score, time_ms, seconds FROM games WHERE id = ?");
        s.bind(1, id);
        if (!s.step())
            return std::nullopt;
        return game_of(s);
    }

    std::optional<std::string> replay(std::int64_t id) override
    {
        Statement s(db_, "SELECT replay FROM games WHERE id = ?");
        s.bind(1, id);
        if (!s.step())
            return std::nullopt;
        return s.text(0);
    }

    std::vector<Game> latest(int limit) override
    {
        Statement s(db_, "SELECT id, name, score, time_ms, seconds FROM games ORDER BY id DESC LIMIT ?");
        s.bind(1, static_cast<std::int64_t>(limit));
        std::vector<Game> games;
        while (s.step())
            games.push_back(game_of(s));
        return games;
    }

    bool remove(std::int64_t id) override
    {
        Statement s(db_, "DELETE FROM games WHERE id = ?");
        s.bind(1, id).step();
        return sqlite3_changes(db_) > 0;
    }

    void drop_tickets(std::int64_t before_ms) override
    {
        Statement s(db_, "DELETE FROM tickets WHERE expires_ms < ?");
        s.bind(1, before_ms).step();
    }

private:
    void exec(const char* sql)
    {
        char* message = nullptr;
        if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
            std::string text = message ? message : sqlite3_errmsg(db_);
            sqlite3_free(message);
            throw StoreError("SQLite: " + text);
        }
    }

    std::int64_t insert(const NewGame& g)
    {
        Statement s(db_, "INSERT INTO games (name, score, time_ms, seconds, replay) VALUES (?, ?, ?, ?, ?)");
        s.bind(1, g.name).bind(2, static_cast<std::int64_t>(g.score)).bind(3, g.time_ms).bind(4, g.seconds);
        s.bind_blob(5, g.replay).step();
        return sqlite3_last_insert_rowid(db_);
    }

    sqlite3* db_ = nullptr;
};

} // namespace

std::unique_ptr<Store> open_sqlite_store(const std::string& path)
{
    return std::make_unique<SqliteStore>(path);
}

} // namespace kiv::board
