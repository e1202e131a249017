// Watching a game as it is played: the game's start (the header its page
// sent with its first chunk), then its chunks as the board holds them, each
// whole frames in the replay body's layout, played with the game's own code
// about 1.5 s behind the last step held, so that a chunk a second keeps it
// running smoothly. A watcher who comes late, or whose tab slept, is taken
// unseen to that distance; one that runs out of frames waits until the lead
// is back. A game whose end comes (its last frames) is played out to its
// game-over screen; one that stopped without them is watched to its last
// frame held.
#include <emscripten.h>

#include "platform/web/replays.h"
#include "replay/format.h"
#include "replay/run.h"
#include "replay/watch.h"

namespace kiv {

namespace {

// How far behind the last step held the watch plays, in steps.
constexpr long LEAD_STEPS = 150;
// Further behind than this, it is taken unseen to LEAD_STEPS.
constexpr long CATCH_UP_STEPS = 400;

bool waiting;    // out of frames: waits for the lead to be back
bool cut_off;    // the stream ended without the game's last frames
ReplayError error;

// The frame in which step `step` runs, from the watch's place on.
long frame_of_step(long step)
{
    long f = replay_run.frame, s = replay_run.step;
    while (f < replay.frames && s + replay.frame[f].steps <= step)
        s += replay.frame[f++].steps;
    return f;
}

} // namespace

double live_passed(double passed)
{
    const long ahead = replay.steps - replay_run.step;
    if (ahead > CATCH_UP_STEPS)
        skip_to_frame(frame_of_step(replay.steps - LEAD_STEPS));
    if (cut_off)
        return passed;
    if (replay_run.frame >= replay.frames)
        waiting = true;
    if (waiting && replay.steps - replay_run.step >= LEAD_STEPS)
        waiting = false;
    return waiting ? 0.0 : passed;
}

bool live_cut_off()
{
    return watch.live && cut_off && replay_run.frame >= replay.frames;
}

} // namespace kiv

extern "C" {

unsigned char* web_replay_header();

EMSCRIPTEN_KEEPALIVE const char* web_live_error() { return kiv::error.text; }

// Starts watching the game whose start is in web_replay_header() (a game's
// header with nothing played yet); a game in play is left as Escape would
// leave it, unrecorded. Returns 0 with web_live_error set when it is not
// the start of a game.
EMSCRIPTEN_KEEPALIVE int web_watch_live()
{
    using namespace kiv;
    // Read as the header of a game of one frame and step, ended.
    unsigned char start[REPLAY_HEADER_SIZE];
    unsigned char* given = web_replay_header();
    for (int i = 0; i < REPLAY_HEADER_SIZE; i++)
        start[i] = given[i];
    start[28] = start[32] = start[36] = 1;
    ReplayHeader h;
    if (!read_replay_header(start, REPLAY_HEADER_SIZE, &h, &error))
        return 0;
    if (h.kind != REPLAY_GAME)
        return replay_error(&error, "byte 5: a game watched live is a game, not a session");
    leave_for_watching();
    replay.header = h;
    replay.frames = replay.steps = replay.returns = 0;
    begin_watching();
    watch.live = true;
    waiting = true;
    cut_off = false;
    return 1;
}

// The chunk of `size` bytes in replay_body, beginning at step `from`,
// added to the game watched live (a chunk may begin before the last step
// held: the steps it repeats are the same). Returns 0 with
// web_live_error set when it cannot be: malformed, or a gap before it.
EMSCRIPTEN_KEEPALIVE int web_live_chunk(long from, long size)
{
    using namespace kiv;
    if (!watching() || !watch.live)
        return replay_error(&error, "no game is watched live");
    if (from > replay.steps)
        return replay_error(&error, "the chunk begins at step %ld, after the %ld steps held", from, replay.steps);
    // The frame that begins at `from`, counted from the start.
    long f = 0, s = 0;
    while (s < from && f < replay.frames)
        s += replay.frame[f++].steps;
    if (s != from)
        return replay_error(&error, "no frame begins at step %ld", from);
    long frames = 0, steps = 0;
    if (!read_chunk(replay_body, size, MAX_REPLAY_STEPS - from, replay.frame + f, replay.input + from, &frames,
                    &steps, &error))
        return 0;
    if (from + steps > replay.steps) {
        replay.frames = f + frames;
        replay.steps = from + steps;
        replay.header.frames = replay.frames;
        replay.header.steps = replay.steps;
    }
    return 1;
}

// The stream has ended: with the game's last frames (it is played out to
// its game-over screen), or without them (watched to its last frame held).
EMSCRIPTEN_KEEPALIVE void web_live_end(int whole)
{
    using namespace kiv;
    if (!watching() || !watch.live)
        return;
    // Cut off, the watch stays live: it holds at the last frame held, then ends.
    watch.live = !whole;
    cut_off = !whole;
    waiting = false;
}

} // extern "C"
