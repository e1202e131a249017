// The board's clock. Every time the board reads (tickets and their pace,
// the boards of the day and the week, the daily, replays held back, leases)
// is read here, in the server, its lone workers and the commands alike.
//
// For tests only, KIV_BOARD_TEST_NOW=<ISO 8601 instant in UTC, to the
// second: 2026-12-07T23:59:50Z> starts the clock at that instant, and it
// runs on in real time from there.
#pragma once

#include <cstdint>
#include <string>

namespace kiv::board {

constexpr std::int64_t DAY_MS = 24LL * 3600 * 1000;

// Reads KIV_BOARD_TEST_NOW, once, before any thread starts; says in one
// line when it is set. False, said in one line, when it is not an instant.
bool start_clock();

// Milliseconds since 1970-01-01T00:00:00Z.
std::int64_t now_ms();
// "2026-12-07T03:12:45Z"
std::string iso_time(std::int64_t ms);
// An instant written "2026-12-07T23:59:50Z" (ISO 8601, UTC, to the second):
// false for anything else, or no such instant (2026-02-30T00:00:00Z).
bool parse_instant(const std::string& text, std::int64_t* ms);

// The UTC day of an instant: "2026-12-07".
std::string day_of(std::int64_t ms);
// The first millisecond of a day written YYYY-MM-DD; false when it is no
// such day (2026-02-30, 2026-1-1).
bool parse_day(const std::string& text, std::int64_t* start_ms);

} // namespace kiv::board
