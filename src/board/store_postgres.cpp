// The board in PostgreSQL, for several servers and workers sharing one board.
#include <libpq-fe.h>

#include <cstdio>
#include <cstdlib>

#include "board/store.h"

namespace kiv::board {

namespace {

// Type oids of the results (pg_type.h).
constexpr Oid BOOL_OID = 16, BYTEA_OID = 17, INT8_OID = 20, INT2_OID = 21, INT4_OID = 23, FLOAT4_OID = 700,
              FLOAT8_OID = 701, NUMERIC_OID = 1700;

std::string trim(std::string s)
{
    while (!s.empty() && (s.back() == '\n' || s.back() == ' '))
        s.pop_back();
    return s;
}

// `?` placeholders as PostgreSQL's $1, $2, ... (the board's SQL has no `?`
// of its own).
std::string numbered(const std::string& sql)
{
    std::string out;
    int n = 0;
    for (char c : sql) {
        if (c == '?')
            out += "$" + std::to_string(++n);
        else
            out += c;
    }
    return out;
}

class PostgresDb : public Db {
public:
    explicit PostgresDb(const std::string& url) : conn_(PQconnectdb(url.c_str()))
    {
        if (PQstatus(conn_) != CONNECTION_OK) {
            std::string message = PQerrorMessage(conn_);
            PQfinish(conn_);
            throw StoreError("cannot connect to PostgreSQL: " + trim(message));
        }
        run("SET client_min_messages TO warning");
    }
    ~PostgresDb() override { PQfinish(conn_); }

    Rows execute(const std::string& sql, const std::vector<Value>& params) override
    {
        // A server restarted under us: connect again, once, outside a transaction.
        if (PQstatus(conn_) != CONNECTION_OK && PQtransactionStatus(conn_) != PQTRANS_INTRANS)
            PQreset(conn_);
        std::vector<std::string> texts(params.size());
        std::vector<const char*> values(params.size());
        std::vector<int> lengths(params.size()), formats(params.size());
        for (size_t i = 0; i < params.size(); i++) {
            const Value& v = params[i];
            if (const auto* x = std::get_if<std::int64_t>(&v)) {
                texts[i] = std::to_string(*x);
            } else if (const auto* d = std::get_if<double>(&v)) {
                char text[40];
                std::snprintf(text, sizeof text, "%.17g", *d);
                texts[i] = text;
            } else if (const auto* s = std::get_if<std::string>(&v)) {
                texts[i] = *s;
            } else if (const auto* b = std::get_if<Blob>(&v)) {
                texts[i] = b->bytes;
                formats[i] = 1;
            }
            values[i] = std::holds_alternative<std::nullptr_t>(v) ? nullptr : texts[i].data();
            lengths[i] = static_cast<int>(texts[i].size());
        }
        PGresult* r = params.empty() && sql.find('?') == std::string::npos
                          ? PQexec(conn_, sql.c_str())
                          : PQexecParams(conn_, numbered(sql).c_str(), static_cast<int>(params.size()), nullptr,
                                         values.data(), lengths.data(), formats.data(), 0);
        struct Clear {
            PGresult* r;
            ~Clear() { PQclear(r); }
        } clear{r};
        const ExecStatusType status = PQresultStatus(r);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
            throw StoreError("PostgreSQL: " + trim(PQerrorMessage(conn_)));
        changes_ = std::atol(PQcmdTuples(r));
        Rows rows;
        for (int row = 0; row < PQntuples(r); row++) {
            std::vector<Value> out;
            for (int c = 0; c < PQnfields(r); c++) {
                if (PQgetisnull(r, row, c)) {
                    out.emplace_back(nullptr);
                    continue;
                }
                const char* text = PQgetvalue(r, row, c);
                switch (PQftype(r, c)) {
                case BOOL_OID:
                    out.emplace_back(static_cast<std::int64_t>(text[0] == 't'));
                    break;
                case INT2_OID:
                case INT4_OID:
                case INT8_OID:
                    out.emplace_back(static_cast<std::int64_t>(std::strtoll(text, nullptr, 10)));
                    break;
                case FLOAT4_OID:
                case FLOAT8_OID:
                case NUMERIC_OID:
                    out.emplace_back(std::strtod(text, nullptr));
                    break;
                case BYTEA_OID: {
                    size_t size = 0;
                    unsigned char* bytes = PQunescapeBytea(reinterpret_cast<const unsigned char*>(text), &size);
                    if (!bytes)
                        throw StoreError("PostgreSQL: out of memory");
                    out.emplace_back(Blob{std::string(reinterpret_cast<char*>(bytes), size)});
                    PQfreemem(bytes);
                    break;
                }
                default:
                    out.emplace_back(std::string(text, static_cast<size_t>(PQgetlength(r, row, c))));
                }
            }
            rows.emplace_back(std::move(out));
        }
        return rows;
    }

    long changes() override { return changes_; }
    bool postgres() const override { return true; }
    void begin() override { run("BEGIN"); }
    void lock(std::int64_t key) override { run("SELECT pg_advisory_xact_lock(CAST(? AS BIGINT))", {key}); }
    const char* skip_locked() const override { return " FOR UPDATE SKIP LOCKED"; }

private:
    PGconn* conn_;
    long changes_ = 0;
};

} // namespace

std::unique_ptr<Db> open_postgres(const std::string& url)
{
    return std::make_unique<PostgresDb>(url);
}

} // namespace kiv::board
