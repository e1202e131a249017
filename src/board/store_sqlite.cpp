// The board in one SQLite file: WAL, synchronous=FULL, so whatever is
// answered once committed is on disk whatever happens to the process or the
// machine after.
#include <sqlite3.h>

#include "board/store.h"

namespace kiv::board {

namespace {

class SqliteDb : public Db {
public:
    explicit SqliteDb(const std::string& path)
    {
        if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                            nullptr) != SQLITE_OK) {
            std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
            sqlite3_close(db_);
            throw StoreError("cannot open " + path + ": " + message);
        }
        sqlite3_busy_timeout(db_, 10000);
        run("PRAGMA journal_mode=WAL");
        run("PRAGMA synchronous=FULL");
        run("PRAGMA foreign_keys=ON");
    }
    ~SqliteDb() override { sqlite3_close(db_); }

    Rows execute(const std::string& sql, const std::vector<Value>& params) override
    {
        sqlite3_stmt* stmt = nullptr;
        const char* rest = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, &rest) != SQLITE_OK)
            fail();
        // Several statements at once (a schema): each in turn, without
        // parameters.
        while (rest && (*rest == ' ' || *rest == '\n' || *rest == ';'))
            rest++;
        if (rest && *rest && params.empty()) {
            sqlite3_finalize(stmt);
            char* message = nullptr;
            if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
                std::string text = message ? message : sqlite3_errmsg(db_);
                sqlite3_free(message);
                throw StoreError("SQLite: " + text);
            }
            changes_ = sqlite3_changes(db_);
            return {};
        }
        if (!stmt)
            return {};
        struct Finalize {
            sqlite3_stmt* s;
            ~Finalize() { sqlite3_finalize(s); }
        } finalize{stmt};
        for (size_t i = 0; i < params.size(); i++) {
            const int n = static_cast<int>(i + 1);
            const Value& v = params[i];
            if (const auto* x = std::get_if<std::int64_t>(&v))
                sqlite3_bind_int64(stmt, n, *x);
            else if (const auto* d = std::get_if<double>(&v))
                sqlite3_bind_double(stmt, n, *d);
            else if (const auto* s = std::get_if<std::string>(&v))
                sqlite3_bind_text(stmt, n, s->data(), static_cast<int>(s->size()), SQLITE_TRANSIENT);
            else if (const auto* b = std::get_if<Blob>(&v))
                sqlite3_bind_blob(stmt, n, b->bytes.data(), static_cast<int>(b->bytes.size()), SQLITE_TRANSIENT);
            else
                sqlite3_bind_null(stmt, n);
        }
        Rows rows;
        for (;;) {
            int rc = sqlite3_step(stmt);
            if (rc == SQLITE_DONE)
                break;
            if (rc != SQLITE_ROW)
                fail();
            std::vector<Value> values;
            for (int c = 0; c < sqlite3_column_count(stmt); c++) {
                switch (sqlite3_column_type(stmt, c)) {
                case SQLITE_INTEGER:
                    values.emplace_back(static_cast<std::int64_t>(sqlite3_column_int64(stmt, c)));
                    break;
                case SQLITE_FLOAT:
                    values.emplace_back(sqlite3_column_double(stmt, c));
                    break;
                case SQLITE_NULL:
                    values.emplace_back(nullptr);
                    break;
                default: {
                    const void* p = sqlite3_column_blob(stmt, c);
                    std::string bytes(p ? static_cast<const char*>(p) : "",
                                      static_cast<size_t>(sqlite3_column_bytes(stmt, c)));
                    if (sqlite3_column_type(stmt, c) == SQLITE_BLOB)
                        values.emplace_back(Blob{std::move(bytes)});
                    else
                        values.emplace_back(std::move(bytes));
                }
                }
            }
            rows.emplace_back(std::move(values));
        }
        changes_ = sqlite3_changes(db_);
        return rows;
    }

    long changes() override { return changes_; }
    bool postgres() const override { return false; }
    void begin() override { run("BEGIN IMMEDIATE"); }
    void lock(std::int64_t) override {}
    const char* skip_locked() const override { return ""; }

private:
    [[noreturn]] void fail() { throw StoreError(std::string("SQLite: ") + sqlite3_errmsg(db_)); }

    sqlite3* db_ = nullptr;
    long changes_ = 0;
};

} // namespace

std::unique_ptr<Db> open_sqlite(const std::string& path)
{
    return std::make_unique<SqliteDb>(path);
}

} // namespace kiv::board
