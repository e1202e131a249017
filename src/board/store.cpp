// What both kinds of database share: rows, transactions, and opening by
// configuration.
#include "board/store.h"

#include "board/schema.h"

namespace kiv::board {

std::int64_t Row::integer(size_t i) const
{
    const Value& v = values_.at(i);
    if (const auto* n = std::get_if<std::int64_t>(&v))
        return *n;
    if (const auto* d = std::get_if<double>(&v))
        return static_cast<std::int64_t>(*d);
    return 0;
}

double Row::real(size_t i) const
{
    const Value& v = values_.at(i);
    if (const auto* d = std::get_if<double>(&v))
        return *d;
    if (const auto* n = std::get_if<std::int64_t>(&v))
        return static_cast<double>(*n);
    return 0;
}

std::string Row::text(size_t i) const
{
    const Value& v = values_.at(i);
    if (const auto* s = std::get_if<std::string>(&v))
        return *s;
    if (const auto* b = std::get_if<Blob>(&v))
        return b->bytes;
    return "";
}

Transaction::~Transaction()
{
    if (done_)
        return;
    try {
        db_.run("ROLLBACK");
    } catch (const StoreError&) {
        // The connection is gone; so is the transaction.
    }
}

void Transaction::commit()
{
    db_.run("COMMIT");
    done_ = true;
}

bool is_postgres_url(const std::string& s)
{
    return s.rfind("postgresql://", 0) == 0 || s.rfind("postgres://", 0) == 0;
}

std::unique_ptr<Db> connect_store(const StoreConfig& config)
{
    if (!config.database.empty()) {
        if (!is_postgres_url(config.database))
            throw StoreError("--database takes a PostgreSQL URL (postgresql://...)");
        return open_postgres(config.database);
    }
    return open_sqlite(config.data_dir + "/board.sqlite");
}

std::unique_ptr<Db> open_store(const StoreConfig& config)
{
    std::unique_ptr<Db> db = connect_store(config);
    upgrade_schema(*db);
    return db;
}

bool parse_game_id(const std::string& text, std::int64_t* id)
{
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    *id = std::stoll(text);
    return true;
}

} // namespace kiv::board
