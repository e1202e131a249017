// The board's database: one connection to SQLite (one file) or PostgreSQL
// (shared by several servers and workers), behind one small interface, so
// that every rule's SQL is written once. A Db is one connection: each thread
// opens its own.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "board/clock.h"

namespace kiv::board {

// A failure of the database itself (not of what a client sent).
struct StoreError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Bytes for a BLOB (SQLite) or BYTEA (PostgreSQL) column.
struct Blob {
    std::string bytes;
};

using Value = std::variant<std::nullptr_t, std::int64_t, double, std::string, Blob>;

// One row of a result.
class Row {
public:
    explicit Row(std::vector<Value> values) : values_(std::move(values)) {}
    bool null(size_t i) const { return std::holds_alternative<std::nullptr_t>(values_.at(i)); }
    std::int64_t integer(size_t i) const;
    double real(size_t i) const;
    // Text, or the bytes of a blob.
    std::string text(size_t i) const;

private:
    std::vector<Value> values_;
};
using Rows = std::vector<Row>;

class Db {
public:
    virtual ~Db() = default;
    // Runs one statement, its parameters written `?`; the rows it gives.
    Rows run(const std::string& sql, const std::vector<Value>& params = {}) { return execute(sql, params); }
    // Rows the last statement changed.
    virtual long changes() = 0;
    virtual bool postgres() const = 0;
    // Begins a transaction that will write: SQLite takes the file's write
    // lock at once (BEGIN IMMEDIATE), so the transaction is alone;
    // PostgreSQL begins one of its own (READ COMMITTED).
    virtual void begin() = 0;
    // In a transaction: PostgreSQL holds lock `key` until it ends, so that
    // one kind of change is made by one server at a time; SQLite needs
    // nothing more than its write lock.
    virtual void lock(std::int64_t key) = 0;
    // "ON CONFLICT ..." aside, the few places the two differ: a row lock
    // for the rest of the transaction, skipping rows others hold.
    virtual const char* skip_locked() const = 0;

protected:
    virtual Rows execute(const std::string& sql, const std::vector<Value>& params) = 0;
};

// A write transaction, rolled back unless committed.
class Transaction {
public:
    explicit Transaction(Db& db) : db_(db) { db_.begin(); }
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit();

private:
    Db& db_;
    bool done_ = false;
};

// Where the board is kept: a PostgreSQL URL (postgresql://... or
// postgres://...), or else the SQLite file board.sqlite in data_dir.
struct StoreConfig {
    std::string database;
    std::string data_dir;
};

bool is_postgres_url(const std::string& s);
// Opens a connection to the board, making or upgrading its tables first
// (see schema.h).
std::unique_ptr<Db> open_store(const StoreConfig& config);
// A connection alone, the tables as they are.
std::unique_ptr<Db> connect_store(const StoreConfig& config);
std::unique_ptr<Db> open_sqlite(const std::string& path);
std::unique_ptr<Db> open_postgres(const std::string& url);

// A game's id as given in a request or on the command line: digits only.
bool parse_game_id(const std::string& text, std::int64_t* id);

} // namespace kiv::board
