// Owned names. Claiming a free name gives its player a secret (128 random
// bits, 32 hex digits) that the page keeps and sends as
// `Authorization: Bearer SECRET` whenever it acts for the name; the board
// keeps only a hash of it. A name may have several secrets, one for each
// browser: a one-time pairing code, shown where the name is held, gives
// another browser a secret of its own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "board/http.h"
#include "board/store.h"

namespace kiv::board {

struct Owner {
    std::int64_t id = 0;
    std::string name;
};

// A pairing code's life.
constexpr std::int64_t PAIRING_MS = 10 * 60 * 1000;

// POST /api/names {"name"}: 201 {"name", "secret"}.
Answer claim_name(Db& db, const std::string& body);
// The owner that an Authorization header's secret holds, or none.
std::optional<Owner> owner_of(Db& db, const char* authorization);
// 401 for a request without a secret that holds a name.
Answer no_owner();
// POST /api/names/pairing: 201 {"code", "expires"}.
Answer make_pairing(Db& db, const Owner& owner);
// POST /api/names/paired {"code"}: 201 {"name", "secret"}.
Answer use_pairing(Db& db, const std::string& body);

// For the operator.
struct NameRow {
    std::string name;
    bool reserved;
    long secrets, games;
};
std::vector<NameRow> list_names(Db& db);
// Each false, with why, when it cannot be done; *held is the name as it
// was held, *games its games on the board.
bool release_name(Db& db, const std::string& name, std::string* held, long* games, std::string* why);
bool rename_name(Db& db, const std::string& from, const std::string& to, std::string* held, long* games,
                 std::string* why);
// A pairing code for a name ("ABCD-EFGH"), good until *expires_ms.
bool pair_name(Db& db, const std::string& name, std::string* held, std::string* code, std::int64_t* expires_ms,
               std::string* why);

} // namespace kiv::board
