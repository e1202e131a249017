// The board's tables and their versions. A board's schema version is kept in
// its `meta` table; a board made by an earlier release (version 1: the
// tables `tickets` and `games` alone, no `meta`) is upgraded in place, in
// one transaction, by the first server or command that opens it.
#pragma once

#include "board/store.h"

namespace kiv::board {

constexpr int SCHEMA_VERSION = 5;

// The board's schema version: 0 for an empty database.
int schema_version(Db& db);

// Makes the tables of an empty database, or upgrades an older board, to
// SCHEMA_VERSION. Throws StoreError for a board newer than this program.
void upgrade_schema(Db& db);

} // namespace kiv::board
