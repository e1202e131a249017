#include "board/stream.h"

#include <sodium.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

#include "board/fields.h"
#include "board/games.h"
#include "board/tickets.h"
#include "frame/loop.h"
#include "replay/file.h"

namespace kiv::board {

namespace {

// The base64 of a chunk: far more than the steps it may hold take.
constexpr size_t MAX_CHUNK_TEXT = 64 * 1024;
// A step's bytes at most: its button, two motions of five bytes, a frame.
constexpr long STEP_BYTES = 12;

std::int64_t ms(double seconds)
{
    return std::llround(seconds * 1000);
}

std::string seconds_text(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", seconds);
    return text;
}

// The header a stream begins with: a game's header as it starts, its
// score, steps, frames, end, fingerprints and body size 0. "" when it is
// one for the ticket's seed, else why not.
std::string header_refusal(const std::string& bytes, std::uint32_t seed)
{
    if (bytes.size() != REPLAY_HEADER_SIZE)
        return "The header is not the 64 bytes of a replay's header.";
    for (int i = 24; i < REPLAY_HEADER_SIZE; i++)
        if (bytes[i] != 0)
            return "The header's bytes from 24 on are not 0 as a game begins (byte " + std::to_string(i) + ").";
    // Read as the header of a game of one frame, so that every other byte
    // is checked as a replay's.
    unsigned char d[REPLAY_HEADER_SIZE];
    std::memcpy(d, bytes.data(), sizeof d);
    d[28] = d[32] = d[36] = 1;
    d[56] = 4;  // its frame, its button and its two motions
    ReplayHeader h{};
    ReplayError e;
    if (!read_replay_header(d, sizeof d, &h, &e))
        return std::string("The header is refused: ") + e.text + ".";
    if (h.kind != REPLAY_GAME)
        return "The header is not that of a game from its Start.";
    if (h.seed != seed)
        return "The header's seed is not the ticket's.";
    return "";
}

} // namespace

long max_chunk_steps(const BoardSettings& settings)
{
    return static_cast<long>(std::ceil((settings.pace_margin + settings.pace_tolerance) * 1000 / STEP_MS)) + 1;
}

std::string pack(const std::string& raw)
{
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    std::string out(size, '\0');
    compress2(reinterpret_cast<unsigned char*>(out.data()), &size, reinterpret_cast<const unsigned char*>(raw.data()),
              static_cast<uLong>(raw.size()), Z_BEST_COMPRESSION);
    out.resize(size);
    return out;
}

bool unpack_chunk(const std::string& packed, long max_steps, Frames* out, std::string* why)
{
    // Room for the most a chunk may hold, never filled in advance: only
    // what the chunk inflates to is touched.
    max_steps = std::min(max_steps, MAX_REPLAY_STEPS);
    const long room = max_steps * STEP_BYTES;
    const std::unique_ptr<unsigned char[]> raw(new unsigned char[static_cast<size_t>(room)]);
    const Inflated z =
        inflate_body(reinterpret_cast<const unsigned char*>(packed.data()), packed.size(), raw.get(), room);
    if (z.status != Z_STREAM_END || z.in != packed.size()) {
        *why = z.out > room ? "The chunk holds more than the steps a chunk may hold."
                            : "The chunk is not one whole zlib stream and nothing after it.";
        return false;
    }
    // (A chunk of n bytes holds fewer than n steps and n frames.)
    const long most = std::min(max_steps, z.out);
    out->frame.resize(static_cast<size_t>(most));
    out->input.resize(static_cast<size_t>(most));
    ReplayError e;
    if (!read_chunk(raw.get(), z.out, most, out->frame.data(), out->input.data(), &out->frames, &out->steps, &e)) {
        *why = std::string("The chunk is not whole frames: ") + e.text + ".";
        return false;
    }
    out->frame.resize(static_cast<size_t>(out->frames));
    out->input.resize(static_cast<size_t>(out->steps));
    return true;
}

std::string join_chunks(const std::vector<std::string>& packed)
{
    Frames all, one;
    std::string why;
    for (const std::string& p : packed)
        if (unpack_chunk(p, MAX_REPLAY_STEPS, &one, &why)) {
            all.frame.insert(all.frame.end(), one.frame.begin(), one.frame.end());
            all.input.insert(all.input.end(), one.input.begin(), one.input.end());
        }
    std::vector<unsigned char> raw(all.input.size() * STEP_BYTES + 16);
    const long size = write_frames(all.frame.data(), static_cast<long>(all.frame.size()), all.input.data(),
                                   static_cast<long>(all.input.size()), raw.data(), 0, static_cast<long>(raw.size()));
    return pack(std::string(reinterpret_cast<const char*>(raw.data()), static_cast<size_t>(size)));
}

bool fell_behind(std::int64_t started_ms, std::int64_t steps, std::int64_t now, double margin)
{
    return now - (started_ms + (steps + 1) * STEP_MS) > ms(margin);
}

std::vector<Value> not_behind_at(std::int64_t now, double margin)
{
    return {static_cast<std::int64_t>(STEP_MS), now - ms(margin)};
}

std::string behind_reason(double margin)
{
    char text[120];
    std::snprintf(text, sizeof text, "This game is no longer ranked: it fell more than %g s behind real time.",
                  margin);
    return text;
}

bool read_chunk_request(const std::string& body, ChunkRequest* request, Answer* refusal)
{
    std::map<std::string, std::string> fields;
    std::string why;
    if (!read_fields(body,
                     {{"steps", static_cast<size_t>(MAX_REPLAY_STEPS), false, true},
                      {"chunk", MAX_CHUNK_TEXT},
                      {"header", 128, false, false, true}},
                     &fields, &why)) {
        *refusal = error(400, why);
        return false;
    }
    if (!fields.count("steps")) {
        *refusal = error(400, "The field \"steps\" must be a whole number from 0 to " +
                                  std::to_string(MAX_REPLAY_STEPS) + ".");
        return false;
    }
    request->steps = std::stoll(fields["steps"]);
    if (!from_base64(fields["chunk"], &request->chunk)) {
        *refusal = error(400, "The chunk is not standard base64.");
        return false;
    }
    if (fields.count("header") && !from_base64(fields["header"], &request->header)) {
        *refusal = error(400, "The header is not standard base64.");
        return false;
    }
    return true;
}

void notify_stream(Db& db, const std::string& live, std::int64_t from, std::int64_t to)
{
    if (db.postgres())
        db.run("SELECT pg_notify('kiv_live', ?)", {live + " " + std::to_string(from) + " " + std::to_string(to)});
}

void end_stream(Db& db, const std::string& id, int status, const std::string& reason, std::int64_t now)
{
    db.run("UPDATE tickets SET state = 2, ended_ms = ?, end_status = ?, end_reason = ? WHERE ticket = ?",
           {now, static_cast<std::int64_t>(status), reason, id});
    const Rows r = db.run("SELECT live, steps FROM tickets WHERE ticket = ?", {id});
    if (!r.empty() && !r[0].null(0))
        notify_stream(db, r[0].text(0), r[0].integer(1), -1);
}

Answer ticket_refusal(Db& db, const std::string& id)
{
    const Rows r = db.run("SELECT state, end_status, end_reason FROM tickets WHERE ticket = ?", {id});
    if (r.empty())
        return not_in_play(NO_TICKET);
    if (!r[0].null(1))
        return error(static_cast<int>(r[0].integer(1)), r[0].text(2));
    return not_in_play(static_cast<TicketState>(r[0].integer(0)));
}

Answer take_chunk(Db& db, const BoardSettings& settings, const std::string& id, const ChunkRequest& request,
                  const std::optional<Owner>& owner, std::int64_t arrived_ms,
                  const std::function<long(const std::string&)>& watching, Held* held)
{
    *held = Held{};
    if (!owner)
        return no_owner();
    // Read before anything is locked: nothing malformed reaches the ticket.
    Frames frames;
    std::string why;
    if (!unpack_chunk(request.chunk, max_chunk_steps(settings), &frames, &why))
        return error(400, why);
    if (request.steps > 0 && !request.header.empty())
        return error(400, "The header comes with the first chunk alone.");

    Transaction t(db);
    db.lock(ticket_lock(id));
    const Rows r = db.run("SELECT state, started_ms, seed, owner, steps, live, daily FROM tickets WHERE ticket = ?",
                          {id});
    if (r.empty() || r[0].integer(0) != STARTED)
        return ticket_refusal(db, id);
    const Row& tk = r[0];
    if (tk.null(3) || tk.integer(3) != owner->id)
        return error(403, "This ticket's game was started for another name.");
    const std::int64_t started = tk.integer(1), steps = tk.integer(4);
    const std::string live = tk.text(5);
    const bool daily = tk.integer(6) != 0;
    auto answer = [&](std::int64_t now_held) {
        return json_answer(200, json{{"steps", now_held}, {"watching", daily ? 0 : watching(live)}});
    };
    // Behind is judged first: whatever is sent on a game past the margin
    // ends it.
    if (fell_behind(started, steps, arrived_ms, settings.pace_margin)) {
        const std::string reason = behind_reason(settings.pace_margin);
        end_stream(db, id, 410, reason, arrived_ms);
        t.commit();
        return error(410, reason);
    }
    if (request.steps != steps) {
        // The same chunk again, its answer lost: answered as the first time.
        const Rows same = db.run("SELECT to_step, body FROM chunks WHERE ticket = ? AND from_step = ?",
                                 {id, request.steps});
        if (!same.empty() && same[0].text(1) == request.chunk)
            return answer(same[0].integer(0));
        return json_answer(409, json{{"error", "The board holds " + std::to_string(steps) +
                                                   " steps of this game: send the frames from there."},
                                     {"steps", steps}});
    }
    const std::int64_t to = steps + frames.steps;
    if (to > MAX_REPLAY_STEPS)
        return error(400, "The chunk takes the game past an hour, the longest a replay holds.");
    if (steps == 0) {
        const std::string refusal = request.header.empty()
                                        ? "The first chunk carries the game's header."
                                        : header_refusal(request.header, static_cast<std::uint32_t>(tk.integer(2)));
        if (!refusal.empty())
            return error(400, refusal);
    }
    const std::int64_t ahead = started + to * STEP_MS - arrived_ms;
    if (ahead > ms(settings.pace_tolerance)) {
        const std::string reason = "This game is no longer ranked: it ran " +
                                   seconds_text(static_cast<double>(ahead) / 1000) +
                                   " s ahead of real time, so it was not played live.";
        end_stream(db, id, 422, reason, arrived_ms);
        t.commit();
        return error(422, reason);
    }
    db.run("INSERT INTO chunks (ticket, from_step, to_step, body) VALUES (?, ?, ?, ?)",
           {id, steps, to, Blob{request.chunk}});
    if (steps == 0)
        db.run("UPDATE tickets SET steps = ?, header = ?, streamed = 1 WHERE ticket = ?",
               {to, Blob{request.header}, id});
    else
        db.run("UPDATE tickets SET steps = ? WHERE ticket = ?", {to, id});
    notify_stream(db, live, steps, to);
    t.commit();
    *held = Held{live, steps, to, request.chunk, false};
    return answer(to);
}

std::string check_against_stream(Db& db, const std::string& id, std::int64_t held, const std::string& kept,
                                 const std::string& replay, Held* tail)
{
    const auto* d = reinterpret_cast<const unsigned char*>(replay.data());
    ReplayHeader h{};
    ReplayError e;
    if (!read_replay_header(d, replay.size(), &h, &e, true))
        return "The replay is refused: " + std::string(e.text) + ".";
    const std::string differs = "The replay is refused: its inputs differ from those streamed as it was played";
    if (replay.compare(12, 12, kept, 12, 12) != 0)
        return "The replay is refused: its start (pointer, mouse speed, high score) differs from the one streamed.";
    std::vector<unsigned char> body(static_cast<size_t>(h.body_size));
    const Inflated z = inflate_body(d + REPLAY_HEADER_SIZE, replay.size() - REPLAY_HEADER_SIZE, body.data(),
                                    h.body_size);
    std::vector<ReplayFrame> frame(static_cast<size_t>(h.frames));
    std::vector<StepInput> input(static_cast<size_t>(h.steps));
    long at = 0, steps = 0;
    if (z.status != Z_STREAM_END || z.out != h.body_size ||
        !read_frames(body.data(), z.out, &at, h.frames, h.steps, frame.data(), input.data(), &steps, &e) ||
        steps != h.steps)
        return "The replay is refused: its body is malformed.";
    if (h.steps < held)
        return differs + " (it holds " + std::to_string(h.steps) + " steps, the stream " + std::to_string(held) + ").";
    long f = 0, s = 0;
    const Rows chunks = db.run("SELECT body FROM chunks WHERE ticket = ? ORDER BY from_step", {id});
    Frames c;
    std::string why;
    for (const Row& row : chunks) {
        if (!unpack_chunk(row.text(0), MAX_REPLAY_STEPS, &c, &why))
            return differs + ".";
        for (long i = 0; i < c.frames; i++, f++)
            if (f >= h.frames || std::memcmp(&frame[f], &c.frame[i], sizeof(ReplayFrame)) != 0)
                return differs + " (from step " + std::to_string(s + 1) + ").";
        for (long i = 0; i < c.steps; i++, s++)
            if (input[s].buttons != c.input[i].buttons || input[s].dx != c.input[i].dx ||
                input[s].dy != c.input[i].dy)
                return differs + " (from step " + std::to_string(s + 1) + ").";
    }
    if (s != held)
        return differs + ".";
    // The last frames, for watchers.
    std::vector<unsigned char> raw(static_cast<size_t>((h.steps - s) * STEP_BYTES + 16));
    const long size = write_frames(frame.data() + f, h.frames - f, input.data() + s, h.steps - s, raw.data(), 0,
                                   static_cast<long>(raw.size()));
    tail->from = s;
    tail->to = h.steps;
    if (h.steps > s)
        tail->body = pack(std::string(reinterpret_cast<const char*>(raw.data()), static_cast<size_t>(size)));
    return "";
}

void sweep_streams(Db& db, const BoardSettings& settings)
{
    // (A game that fell behind needs no mark: whatever counts running games
    // reads their pace, and whatever is sent on it later ends it.)
    const std::int64_t now = now_ms(), gone = now - CHUNKS_KEPT_MS;
    const std::string over = std::string("streamed = 1 AND (ended_ms < ? OR (state = 1 AND NOT (") + NOT_BEHIND + ")))";
    std::vector<Value> when{gone};
    for (const Value& v : not_behind_at(gone, settings.pace_margin))
        when.push_back(v);
    db.run("DELETE FROM chunks WHERE ticket IN (SELECT ticket FROM tickets WHERE " + over + ")", when);
    db.run("UPDATE tickets SET streamed = 0 WHERE " + over, when);
}

} // namespace kiv::board
