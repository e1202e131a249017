#include "board/games.h"

#include <sodium.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>

#include "board/daily.h"
#include "board/fields.h"
#include "board/queue.h"
#include "board/stream.h"
#include "board/tickets.h"
#include "board/top.h"
#include "replay/file.h"

namespace kiv::board {

namespace {

// The lock under which one verdict at a time looks for the same game on the
// board and puts its own on.
constexpr std::int64_t VERDICT_LOCK = 1263027540;
constexpr int RETRY_FAILED_MS = 2000;  // before a failed game is tried again
constexpr int RETRY_AS_SENT_MS = 60000;  // before a game kept as sent is played again, its worker failed

const char* const STATUS_TEXT[] = {"pending", "on the board", "refused", "practice"};

Blob hash_of(const std::string& bytes)
{
    unsigned char h[crypto_generichash_BYTES];
    crypto_generichash(h, sizeof h, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), nullptr, 0);
    return Blob{std::string(reinterpret_cast<const char*>(h), sizeof h)};
}

std::string refused(const std::string& why)
{
    return "The replay is refused: " + why + ".";
}

// What is wrong with a game that its header and the clock show, or "". A
// game of other rules is judged as far as its header goes (every rules
// version writes the same header): its verifiers, of its own release, play it.
std::string judged_at_once(const std::string& bytes, const Row& ticket, std::int64_t arrived_ms,
                           const BoardSettings& settings, Db& db, ReplayHeader* header)
{
    const auto* d = reinterpret_cast<const unsigned char*>(bytes.data());
    ReplayError replay_error;
    if (!read_replay_header(d, bytes.size(), header, &replay_error, true))
        return refused(replay_error.text);
    if (header->rules != RULES_VERSION && !rules_served(db, header->rules)) {
        char text[160];
        std::snprintf(text, sizeof text, "it was played under rules version %d, which this board does not verify",
                      header->rules);
        return refused(text);
    }
    std::string why;
    if (!check_game_header(*header, static_cast<std::uint32_t>(ticket.integer(2)),
                           settings.verify.max_steps_per_frame, &why))
        return refused(why);
    // Counted from its start, at the server's clock both ways.
    const double lasted = static_cast<double>(header->steps) * STEP_MS / 1000.0;
    const double took = static_cast<double>(arrived_ms - ticket.integer(1)) / 1000.0;
    // (Later than it lasted by more than the margin, it fell behind: that
    // was judged before.)
    char text[200] = "";
    if (lasted - took > settings.pace_tolerance)
        std::snprintf(text, sizeof text,
                      "The game arrived %.1f s sooner than it lasted (%.1f s): it was not played in real time.",
                      lasted - took, lasted);
    return text;
}

} // namespace

const char* game_status_text(int status)
{
    return STATUS_TEXT[status];
}

Answer not_in_play(TicketState state)
{
    switch (state) {
    case ISSUED:
        return error(409, "The ticket was not started: a game is sent on the ticket it started from.");
    case ABANDONED:
        return error(409, "The game was left: its ticket was given up.");
    case SENT:
        return error(409, "This ticket's game was sent already: another replay on it is refused.");
    default:
        return error(404, "There is no such ticket.");
    }
}

bool read_submission(const std::string& body, Submission* s, Answer* refusal)
{
    std::map<std::string, std::string> fields;
    std::string why;
    if (!read_fields(body, {{"ticket", 64}, {"replay", MAX_BODY}}, &fields, &why)) {
        *refusal = error(400, why);
        return false;
    }
    s->ticket = std::move(fields["ticket"]);
    s->replay = std::move(fields["replay"]);
    if (!ticket_id_ok(s->ticket)) {
        *refusal = error(400, "The ticket is not 32 lowercase hexadecimal digits.");
        return false;
    }
    return true;
}

Answer submit_game(Db& db, const BoardSettings& settings, Submission&& s, const std::optional<Owner>& owner,
                   std::int64_t arrived_ms, bool* queued, Held* end)
{
    *queued = false;
    *end = Held{};
    const std::string id = std::move(s.ticket);
    std::string b64 = std::move(s.replay), bytes;
    if (!from_base64(b64, &bytes))
        return error(400, "The replay is not standard base64.");
    std::string().swap(b64);
    const Blob sent = hash_of(bytes);

    Transaction t(db);
    db.lock(ticket_lock(id));
    const Rows ticket = db.run("SELECT t.state, t.started_ms, t.seed, t.expires_ms, t.owner, o.name, t.day, t.ranked, "
                               "t.steps, t.header, t.live FROM tickets t "
                               "LEFT JOIN owners o ON o.id = t.owner WHERE t.ticket = ?",
                               {id});
    if (ticket.empty())
        return not_in_play(NO_TICKET);
    // Sent again: the same replay is answered as the first time, another refused.
    const Rows before = db.run("SELECT id, status, reason, sent, attempts FROM games WHERE ticket = ?", {id});
    if (!before.empty()) {
        const Row& g = before[0];
        if (g.text(3) != sent.bytes)
            return not_in_play(SENT);
        if (g.integer(1) == REFUSED && g.integer(4) == 0)
            return json_answer(422, json{{"error", g.text(2)}, {"id", g.integer(0)}});
        return json_answer(202, json{{"id", g.integer(0)}, {"status", STATUS_TEXT[g.integer(1)]}});
    }
    const Row& tk = ticket[0];
    if (tk.integer(0) != STARTED)
        return ticket_refusal(db, id);
    if (tk.integer(3) <= arrived_ms)
        return error(410, "The ticket has expired.");
    if (tk.null(4))
        return error(409, "The name this game was started for was released.");
    // Once a step of it is held, the game is its name's alone to end.
    const std::int64_t held = tk.integer(8);
    if (held > 0 && !owner)
        return no_owner();
    if (held > 0 && owner->id != tk.integer(4))
        return error(403, "This ticket's game was started for another name.");
    // Judged as the stream's last chunk: the steps held before it were due
    // within the margin.
    if (fell_behind(tk.integer(1), held, arrived_ms, settings.pace_margin)) {
        const std::string why = behind_reason(settings.pace_margin);
        end_stream(db, id, 410, why, arrived_ms);
        t.commit();
        return error(410, why);
    }
    // Its inputs against the stream first: the refusal that says most.
    Held tail;
    std::string reason = held > 0 ? check_against_stream(db, id, held, tk.text(9), bytes, &tail) : "";
    ReplayHeader header{};
    const std::string at_once = judged_at_once(bytes, tk, arrived_ms, settings, db, &header);
    if (reason.empty())
        reason = at_once;
    if (!reason.empty())
        tail = Held{};
    const int status = reason.empty() ? PENDING : REFUSED;
    const Rows made = db.run(
        "INSERT INTO games (name, score, time_ms, seconds, replay, status, ticket, seed, owner, rules, arrived_ms, "
        "reason, sent, day, ranked) VALUES (?, 0, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING id",
        {tk.text(5), arrived_ms, static_cast<double>(header.steps) * STEP_MS / 1000.0,
         Blob{status == PENDING ? bytes : std::string()}, static_cast<std::int64_t>(status), id, tk.integer(2),
         tk.integer(4), static_cast<std::int64_t>(header.rules), arrived_ms,
         reason.empty() ? Value(nullptr) : Value(reason), sent, tk.null(6) ? Value(nullptr) : Value(tk.text(6)),
         tk.integer(7)});
    const std::int64_t game = made.at(0).integer(0);
    // Its last frames are the stream's last chunk, then its end.
    if (!tail.body.empty())
        db.run("INSERT INTO chunks (ticket, from_step, to_step, body) VALUES (?, ?, ?, ?)",
               {id, tail.from, tail.to, Blob{tail.body}});
    db.run("UPDATE tickets SET state = 3, ended_ms = ?, steps = ? WHERE ticket = ?",
           {arrived_ms, tail.body.empty() ? held : tail.to, id});
    if (!tk.null(10)) {
        notify_stream(db, tk.text(10), held, -1);
        *end = tail;
        end->live = tk.text(10);
        end->ended = true;
    }
    t.commit();
    if (status == REFUSED)
        return json_answer(422, json{{"error", reason}, {"id", game}});
    *queued = true;
    return json_answer(202, json{{"id", game}, {"status", STATUS_TEXT[PENDING]}});
}

Answer read_game(Db& db, const BoardSettings& settings, const std::string& id_text, bool replay)
{
    std::int64_t id = 0;
    if (!parse_game_id(id_text, &id))
        return error(404, "There is no such game.");
    const Rows r = db.run("SELECT status, name, score, time_ms, seconds, reason, day, ranked FROM games WHERE id = ?",
                          {id});
    const auto status = r.empty() ? -1 : r[0].integer(0);
    const bool daily = !r.empty() && !r[0].null(6);
    const std::string day = daily ? r[0].text(6) : "";
    const std::int64_t shown_from = daily ? replays_from(day, settings.pace_margin) : 0;
    if (replay) {
        if (status != ON_THE_BOARD && status != PRACTICE)
            return error(404, "There is no such game on the board.");
        // Until no game of its day can arrive, a daily game's replay would
        // verify on anybody's ticket of that day.
        if (daily && now_ms() < shown_from)
            return json_answer(403, json{{"error", "This daily game's replay is shown from " + iso_time(shown_from) +
                                                       ", when the day's last game is over."},
                                         {"replays_from", shown_from / 1000}});
        const Rows bytes = db.run("SELECT replay FROM games WHERE id = ?", {id});
        return Answer{200,
                      bytes.at(0).text(0),
                      "application/octet-stream",
                      {{"Content-Disposition", "attachment; filename=\"kiv-game-" + std::to_string(id) + ".rec\""}}};
    }
    if (r.empty())
        return error(404, "There is no such game.");
    json answer{{"id", id}, {"status", STATUS_TEXT[status]}};
    if (daily) {
        answer["daily"] = day;
        answer["ranked"] = r[0].integer(7) != 0;
        answer["replays_from"] = shown_from / 1000;
    }
    if (status == REFUSED)
        answer["reason"] = r[0].text(5);
    if (status != ON_THE_BOARD && status != PRACTICE)
        return json_answer(200, answer);
    const Game g{id, r[0].text(1), static_cast<int>(r[0].integer(2)), r[0].integer(3), r[0].real(4)};
    answer["name"] = g.name;
    answer["score"] = g.score;
    answer["time"] = iso_time(g.time_ms);
    answer["seconds"] = g.seconds;
    if (status == PRACTICE)
        return json_answer(200, answer);
    if (daily) {
        answer["ranks"] = {{"daily", daily_rank(db, g, day)}};
    } else {
        const Ranks ranks = ranks_of(db, g, now_ms());
        answer["ranks"] = {{"day", ranks.day}, {"week", ranks.week}, {"all", ranks.all}};
    }
    return json_answer(200, answer);
}

bool judge(Db& db, const std::string& verifier, std::int64_t id, const Verdict& v, std::string* said, bool* on_board)
{
    *on_board = false;
    Transaction t(db);
    db.lock(VERDICT_LOCK);
    const Rows r = db.run("SELECT status, verifier, failures, attempts, name, day, ranked FROM games WHERE id = ?",
                          {id});
    if (r.empty() || r[0].integer(0) != PENDING || r[0].text(1) != verifier)
        return false;
    const std::string name = r[0].text(4);
    std::string reason;
    if (v.kind == Verdict::verified) {
        // (A daily game's practice counts: its seed is the day's, known to many.)
        const Rows same = db.run("SELECT status FROM games WHERE inputs = ? AND status IN (1, 3)", {Blob{v.inputs}});
        if (same.empty()) {
            const bool practice = !r[0].null(5) && r[0].integer(6) == 0;
            db.run("UPDATE games SET status = ?, score = ?, seconds = ?, inputs = ?, replay = ?, as_played = 1, "
                   "time_ms = arrived_ms, lease_until = 0 WHERE id = ?",
                   {static_cast<std::int64_t>(practice ? PRACTICE : ON_THE_BOARD), static_cast<std::int64_t>(v.score),
                    v.seconds, Blob{v.inputs}, Blob{v.replay}, id});
            t.commit();
            *on_board = !practice;
            *said = "game " + std::to_string(id) + (practice ? " is practice: " : " is on the board: ") + name + ", " +
                    std::to_string(v.score) + " points";
            return true;
        }
        reason = refused(same[0].integer(0) == ON_THE_BOARD
                             ? "the same game (its seed and every input) is on the board already"
                             : "the same game (its seed and every input) was played already, as practice");
    } else if (v.kind == Verdict::refused) {
        reason = refused(v.error);
    } else if (v.error == STOPPED) {
        // Its server stopped: not the game's failure, nor a claim that counts.
        db.run("UPDATE games SET verifier = NULL, lease_until = 0, attempts = attempts - 1 WHERE id = ?", {id});
        t.commit();
        *said = "game " + std::to_string(id) + " is queued again: its verifier stopped";
        return true;
    } else if (r[0].integer(2) + 1 < MAX_FAILURES && r[0].integer(3) < MAX_ATTEMPTS) {
        db.run("UPDATE games SET failures = failures + 1, verifier = NULL, lease_until = ? WHERE id = ?",
               {now_ms() + RETRY_FAILED_MS, id});
        t.commit();
        *said = "game " + std::to_string(id) + " is queued again: " + v.error;
        return true;
    } else {
        reason = "The game could not be verified: " + v.error + ".";
    }
    db.run("UPDATE games SET status = 2, reason = ?, replay = ?, lease_until = 0, failures = failures + ? WHERE id = ?",
           {reason, Blob{}, static_cast<std::int64_t>(v.kind == Verdict::failed), id});
    t.commit();
    *said = "game " + std::to_string(id) + " is refused: " + reason;
    return true;
}

std::string keep_game_as_played(Db& db, std::int64_t id, const Verdict& v)
{
    Transaction t(db);
    db.lock(VERDICT_LOCK);
    const Rows r = db.run("SELECT as_played, length(replay) FROM games WHERE id = ? AND status IN (1, 3)", {id});
    if (r.empty() || r[0].integer(0) != 0)
        return "";
    const std::string game = "game " + std::to_string(id);
    if (v.kind == Verdict::failed) {
        // Tried again later, unless its server stopped.
        db.run("UPDATE games SET lease_until = ? WHERE id = ?",
               {v.error == STOPPED ? 0 : now_ms() + RETRY_AS_SENT_MS, id});
        t.commit();
        return game + " is kept as sent for now: " + v.error;
    }
    std::string why = v.error;
    if (v.kind == Verdict::verified) {
        const Rows same = db.run("SELECT id FROM games WHERE inputs = ? AND status IN (1, 3) AND id <> ?",
                                 {Blob{v.inputs}, id});
        if (same.empty()) {
            db.run("UPDATE games SET replay = ?, inputs = ?, as_played = 1, lease_until = 0 WHERE id = ?",
                   {Blob{v.replay}, Blob{v.inputs}, id});
            t.commit();
            return game + " is kept as played: " + std::to_string(v.replay.size()) + " bytes, sent as " +
                   std::to_string(r[0].integer(1));
        }
        why = "it is the same game as game " + std::to_string(same[0].integer(0));
    }
    db.run("UPDATE games SET as_played = 2, lease_until = 0 WHERE id = ?", {id});
    t.commit();
    return game + " is kept as sent: " + why;
}

} // namespace kiv::board
