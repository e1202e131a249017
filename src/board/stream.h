// The stream: every ranked game sent to the board as it is played, about a
// second at a time (a chunk: whole frames in the replay body's layout,
// zlib-compressed), each chunk judged on the board's clock as it arrives:
// never ahead of real time by more than the tolerance, never more than the
// margin behind. The chunks are kept in the database, in order, so that any
// server takes the next one, and watchers are served from them (live.h).
// The game's replay, at its end, must be the streamed frames and its last
// ones.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "board/http.h"
#include "board/owners.h"
#include "board/settings.h"
#include "board/store.h"
#include "replay/format.h"

namespace kiv::board {

// How long a game's chunks are kept once it ended (for watchers that come
// as it ends).
constexpr std::int64_t CHUNKS_KEPT_MS = 5 * 60 * 1000;

// Frames decoded: the frames and their steps' inputs.
struct Frames {
    std::vector<ReplayFrame> frame;
    std::vector<StepInput> input;
    long frames = 0, steps = 0;
};

// The most steps a chunk may hold: more than the margin and the tolerance
// of play is ahead of real time or behind it.
long max_chunk_steps(const BoardSettings& settings);
// zlib, at its best level.
std::string pack(const std::string& raw);
// A compressed chunk (a stream that ends where its bytes do) of at most
// max_steps steps into *out; false, with why, for anything else.
bool unpack_chunk(const std::string& packed, long max_steps, Frames* out, std::string* why);
// Compressed chunks, in order, as one chunk.
std::string join_chunks(const std::vector<std::string>& packed);

// Whether a game that holds `steps` steps from its start is more than the
// margin behind real time at `now`: its next step was due longer ago.
bool fell_behind(std::int64_t started_ms, std::int64_t steps, std::int64_t now, double margin);
// The same rule in SQL, of a ticket's `started_ms` and `steps`: true while
// the game is not behind; its two parameters are not_behind_at(now, margin).
constexpr char NOT_BEHIND[] = "started_ms + (steps + 1) * ? >= ?";
std::vector<Value> not_behind_at(std::int64_t now, double margin);
// The sentence of a game that fell behind.
std::string behind_reason(double margin);

// POST /api/tickets/ID/steps {"steps", "chunk", "header"}.
struct ChunkRequest {
    std::int64_t steps = 0;
    std::string chunk, header;
};
bool read_chunk_request(const std::string& body, ChunkRequest* request, Answer* refusal);

// A chunk taken (or the stream's end), for watchers: its game's public id
// and steps, the chunk as the board keeps it.
struct Held {
    std::string live;
    std::int64_t from = 0, to = 0;
    std::string body;
    bool ended = false;  // the game's stream ended instead
};

// A chunk on a ticket in play, sent with its owner's secret: 200
// {"steps", "watching"} once held (*held says what), or the refusal;
// `watching` counts the watchers of a game by its public id.
Answer take_chunk(Db& db, const BoardSettings& settings, const std::string& id, const ChunkRequest& request,
                  const std::optional<Owner>& owner, std::int64_t arrived_ms,
                  const std::function<long(const std::string&)>& watching, Held* held);

// The answer to anything sent on a ticket not in play: not_in_play's, or
// for a game whose stream the pace ended, the answer that ended it.
Answer ticket_refusal(Db& db, const std::string& id);
// Says to the other servers (PostgreSQL's NOTIFY, at the commit) that a
// game's stream grew to `steps`, or ended (steps -1).
void notify_stream(Db& db, const std::string& live, std::int64_t from, std::int64_t to);

// Under the ticket's lock: ends a started ticket's game, the ticket spent;
// every later request on it is answered `status` and `reason`.
void end_stream(Db& db, const std::string& id, int status, const std::string& reason, std::int64_t now);

// The game's replay against its stream (a ticket holding `held` steps
// from the header `kept`): "" when its header begins as the stream's did
// and its frames are the streamed ones followed by its last ones (then
// *tail holds those as a chunk), else why it is refused.
std::string check_against_stream(Db& db, const std::string& id, std::int64_t held, const std::string& kept,
                                 const std::string& replay, Held* tail);

// Once a minute: the chunks of games that ended, or fell more than the
// margin behind, CHUNKS_KEPT_MS ago are deleted.
void sweep_streams(Db& db, const BoardSettings& settings);

} // namespace kiv::board
