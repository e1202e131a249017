// Games: a started ticket takes one submission and the submission one
// verdict. What can be judged from the replay's header and the server's
// clock is judged as it arrives; the rest is stored durably, queued, and
// judged once by a verifier (queue.h). A game is pending, on the board, or
// refused for good.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "board/http.h"
#include "board/settings.h"
#include "board/tickets.h"
#include "board/verify.h"

namespace kiv::board {

// A daily game verified is on its day's board when it was its name's
// ranked try of the day, else practice: kept, watchable, on no board.
enum GameStatus { PENDING = 0, ON_THE_BOARD = 1, REFUSED = 2, PRACTICE = 3 };
// "pending", "on the board", "refused", "practice"
const char* game_status_text(int status);

// A worker that fails this many times, or claims cut short this many times
// (servers killed in its verification), and the game could not be verified.
constexpr int MAX_FAILURES = 3;
constexpr int MAX_ATTEMPTS = 10;

// POST /api/games {"ticket", "replay"}: the body read (its ticket's form
// checked, the replay left in base64), or the 400 that says what is wrong.
struct Submission {
    std::string ticket, replay;
};
bool read_submission(const std::string& body, Submission* submission, Answer* refusal);
// The refusal of a game on a ticket that is not in play (none, not started,
// left; or another replay on a ticket whose game was sent).
Answer not_in_play(TicketState state);
// 202 {"id", "status"} once stored, 422 {"error", "id"} when refused at
// once. *queued is set when a game waits for a verifier.
struct Held;
// Once a step of its game was streamed, only with its owner's secret, its
// inputs the streamed ones and its last frames (which *end then holds,
// with its public id, for watchers).
Answer submit_game(Db& db, const BoardSettings& settings, Submission&& submission, const std::optional<Owner>& owner,
                   std::int64_t arrived_ms, bool* queued, Held* end);

// GET /api/games/ID and /api/games/ID/replay (a daily game's held back
// until its day's replays_from).
Answer read_game(Db& db, const BoardSettings& settings, const std::string& id_text, bool replay);

// The verdict on a game that `verifier` claimed, committed only while its
// claim holds (it is still pending and still the verifier's). False when
// the claim was lost, and nothing is changed; else *said is a line for the
// log and *on_board whether the game went on the board.
bool judge(Db& db, const std::string& verifier, std::int64_t id, const Verdict& verdict, std::string* said,
           bool* on_board);

// A game put on the board (or kept as practice) before the board kept games
// as played, and played again by a verifier: kept as played, its key that
// of the game as played; or kept as sent when it cannot be played here, or
// when another game kept is the same game. A line for the log, or "" when
// the game is gone or was done by another verifier.
std::string keep_game_as_played(Db& db, std::int64_t id, const Verdict& verdict);

} // namespace kiv::board
