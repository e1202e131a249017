// The page's recorded games and the games it watches.
//
// Every game played in the page is recorded, from the first frame after the
// press on Start to the frame in which it ends (the game-over screen begins,
// or Escape leaves it). Before that first frame the page is asked for the
// game's seed: it may hold the game until the board answers (the seed of a
// ranked game is given only once it starts), or let it begin at once from a
// number of the page's own. In that first frame the game starts afresh from
// the seed: whatever earlier games and the title left in the records is set
// as a replay sets it, so that each replay plays alone, whatever came before
// it. The page compresses the finished replay and offers it.
//
// Watching plays a replay in the canvas with the game's own code, at 1, 4
// or 16 times its speed, or a game as it is played, from its start and the
// chunks the board gives (live.js), a second or two behind its player; then
// it puts back what the page was showing: the high score, the last score and
// the options are the page's own again.
#include <emscripten.h>

#include "frame/game.h"
#include "frame/loop.h"
#include "media/draw.h"
#include "media/sound.h"
#include "platform/web/replays.h"
#include "replay/format.h"
#include "replay/record.h"
#include "replay/run.h"
#include "replay/watch.h"

namespace kiv {

namespace {

// Recording.
// The game in play has been given its start (recorded or not): an hour's
// game goes on unrecorded past the replay's end, not from a new start.
bool started;
// Asked for the seed, the page holds the game until it answers.
bool seed_asked, seed_answered;
bool left_game;
unsigned next_seed;
bool seed_given;
unsigned char header_bytes[REPLAY_HEADER_SIZE];

// Watching.
struct PageState {
    int high_score, shown_score, score, windowed;
    float mouse_speed;
};
PageState saved;
bool watching_now;
double last_ms;
ReplayHeader watched;
ReplayError error;

EM_JS(int, page_wants_to_seed, (), { return Module["kivSeedWanted"] ? Module["kivSeedWanted"]() : 0; });
EM_JS(void, page_game_started, (unsigned seed), {
    if (Module["kivGameStarted"])
        Module["kivGameStarted"](seed >>> 0);
});
EM_JS(void, page_game_recorded, (const unsigned char* header, int header_size, const unsigned char* body,
                                 int body_size, int score, int end, unsigned seed),
      {
          if (Module["kivGameRecorded"])
              Module["kivGameRecorded"](HEAPU8.slice(header, header + header_size), HEAPU8.slice(body, body + body_size),
                                        score, end, seed >>> 0);
      });
EM_JS(void, page_game_unrecorded, (), {
    if (Module["kivGameUnrecorded"])
        Module["kivGameUnrecorded"]();
});
EM_JS(void, page_watch_progress, (int frame, int frames, int score), {
    if (Module["kivWatchProgress"])
        Module["kivWatchProgress"](frame, frames, score);
});
EM_JS(void, page_watch_ended, (), {
    if (Module["kivWatchEnded"])
        Module["kivWatchEnded"]();
});

void start_game_recording()
{
    // Without a seed from the page, one from the clock.
    unsigned seed = seed_given ? next_seed : (next_seed ^ read_clock()) * 2654435761u;
    seed_given = false;
    next_seed = seed;
    ReplayHeader h{};
    h.kind = REPLAY_GAME;
    h.rules = RULES_VERSION;
    h.seed = seed;
    h.pointer_x = pointer_x;
    h.pointer_y = pointer_y;
    h.mouse_speed = mouse_speed;
    h.high_score = high_score;
    start_recorded_game(h);
    start_recording(h);
    started = true;
    seed_asked = seed_answered = false;
    page_game_started(seed);
}

void finish_recording(int end)
{
    stop_recording();
    ReplayHeader& h = replay.header;
    h.score = score;
    h.end = end;
    h.steps = replay.steps;
    h.frames = replay.frames;
    h.body_size = write_replay_body(replay_body, MAX_REPLAY_BODY);
    write_replay_header(h, header_bytes);
    page_game_recorded(header_bytes, REPLAY_HEADER_SIZE, replay_body, static_cast<int>(h.body_size), score, end,
                       h.seed);
}

} // namespace

bool waiting_for_seed()
{
    if (started || game_state != STATE_PLAYING)
        return false;
    if (!seed_asked) {
        seed_asked = true;
        seed_answered = !page_wants_to_seed();
    }
    return !seed_answered;
}

void begin_recorded_frame()
{
    if (!game_in_play())
        started = false;
    if (!started && game_state == STATE_PLAYING)
        start_game_recording();
    left_game = false;
}

void end_recorded_frame()
{
    if (!recording())
        return;
    bool room = record_frame();
    if (left_game) {
        finish_recording(END_LEFT);
    } else if (!game_in_play()) {
        finish_recording(END_OVER);
    } else if (!room) {
        // Longer than a replay can hold: the game goes on unrecorded.
        stop_recording();
        page_game_unrecorded();
    }
}

void note_escape()
{
    if (!recording())
        return;
    record_escape();
    if (game_in_play())
        left_game = true;
}

bool watching()
{
    return watching_now;
}

int watch_tick()
{
    double now = emscripten_get_now();
    double passed = now - last_ms;
    last_ms = now;
    if (take_escapes() > 0) {
        stop_watching();
        return 0;
    }
    passed = live_passed(passed);
    int wait = advance_watch(passed);
    if (wait < 0 || live_cut_off()) {
        stop_watching();
        return 0;
    }
    page_watch_progress(static_cast<int>(watched_frame()), static_cast<int>(watched_frames()), score);
    return wait;
}

void leave_for_watching()
{
    if (watching_now)
        stop_watching();
    stop_recording();
    seed_asked = false;
    if (game_state != STATE_TITLE)
        go_to_title();
}

void begin_watching(const ReplayHeader* live)
{
    saved = PageState{high_score, shown_score, score, windowed, mouse_speed};
    if (live)
        start_live_watch(*live);
    else
        start_watch();
    watching_now = true;
    last_ms = emscripten_get_now();
}

void stop_watching()
{
    if (!watching_now)
        return;
    watching_now = false;
    stop_replay();
    high_score = saved.high_score;
    shown_score = saved.shown_score;
    score = saved.score;
    windowed = saved.windowed;
    mouse_speed = saved.mouse_speed;
    quit_requested = 0;
    drop_pending_input();
    go_to_title();
    page_watch_ended();
}

} // namespace kiv

extern "C" {

// The page's answer for the game waiting at its start: the seed it starts
// from, or (given 0) one of the game's own. The game begins at once: the
// time it waited is no backlog of steps. Returns 0 when no game waits (one
// was watched meanwhile).
EMSCRIPTEN_KEEPALIVE int web_seed_game(int given, unsigned seed)
{
    using namespace kiv;
    if (!seed_asked || seed_answered)
        return 0;
    seed_answered = true;
    if (given)
        next_seed = seed;
    seed_given = given != 0;
    step_clock = static_cast<int>(read_clock()) - STEP_MS;
    return 1;
}

// The steps of the game being recorded so far; -1 when none is.
EMSCRIPTEN_KEEPALIVE long web_recorded_steps()
{
    return kiv::recording() ? kiv::replay.steps : -1;
}

// The stream of the game being recorded. The board holds its steps up to
// one where a frame begins; the page asks for the frames from there on.
namespace {
long chunk_frame, chunk_step;   // a frame and the step it begins at, the last chunk's start
long chunk_steps;               // the steps of the last chunk written
} // namespace

// The game being recorded as it began (its header with nothing played yet)
// into web_replay_header(); 0 when no game is recorded.
EMSCRIPTEN_KEEPALIVE int web_recorded_header()
{
    using namespace kiv;
    if (!recording())
        return 0;
    write_replay_header(replay.header, header_bytes);
    chunk_frame = chunk_step = 0;
    return 1;
}

// The whole frames recorded from the one that begins at step `from`, in the
// body's layout, into web_replay_body(); returns their size (0: none yet),
// -1 when no game is recorded, -2 when no frame begins at that step.
// web_chunk_steps() then gives their steps.
EMSCRIPTEN_KEEPALIVE long web_stream_chunk(long from)
{
    using namespace kiv;
    chunk_steps = 0;
    if (!recording())
        return -1;
    if (from < chunk_step)
        chunk_frame = chunk_step = 0;
    while (chunk_step < from && chunk_frame < replay.frames)
        chunk_step += replay.frame[chunk_frame++].steps;
    if (chunk_step != from)
        return -2;
    long steps = 0;
    for (long f = chunk_frame; f < replay.frames; f++)
        steps += replay.frame[f].steps;
    chunk_steps = steps;
    return write_frames(replay.frame + chunk_frame, replay.frames - chunk_frame, replay.input + chunk_step, steps,
                        replay_body, 0, MAX_REPLAY_BODY);
}

EMSCRIPTEN_KEEPALIVE long web_chunk_steps() { return chunk_steps; }

// Where the page puts a replay's header and its decompressed body.
EMSCRIPTEN_KEEPALIVE unsigned char* web_replay_header() { return kiv::header_bytes; }
EMSCRIPTEN_KEEPALIVE unsigned char* web_replay_body() { return kiv::replay_body; }
EMSCRIPTEN_KEEPALIVE const char* web_replay_error() { return kiv::error.text; }

// Checks the header; returns the size of the body it promises, or -1 (see
// web_replay_error).
EMSCRIPTEN_KEEPALIVE int web_check_replay()
{
    if (!kiv::read_replay_header(kiv::header_bytes, kiv::REPLAY_HEADER_SIZE, &kiv::watched, &kiv::error))
        return -1;
    return static_cast<int>(kiv::watched.body_size);
}

// Starts watching the replay whose body of this size is in place; a game in
// play is left as Escape would leave it, unrecorded. Returns 0 with
// web_replay_error set when the body is not what the header promises.
EMSCRIPTEN_KEEPALIVE int web_watch(int body_size)
{
    using namespace kiv;
    leave_for_watching();
    if (!read_replay_body(watched, replay_body, body_size, &error))
        return 0;
    begin_watching();
    return 1;
}

// Starts watching the game whose start is in web_replay_header() (a game's
// header with nothing played yet); a game in play is left as Escape would
// leave it, unrecorded. Returns 0 with web_replay_error set when it is not
// the start of a game.
EMSCRIPTEN_KEEPALIVE int web_watch_live()
{
    using namespace kiv;
    // Read as the header of a game of one frame and step, ended (its body
    // the four bytes those take).
    unsigned char start[REPLAY_HEADER_SIZE];
    const unsigned char* given = header_bytes;
    for (int i = 0; i < REPLAY_HEADER_SIZE; i++)
        start[i] = given[i];
    start[28] = start[32] = start[36] = 1;
    start[56] = 4;
    ReplayHeader h;
    if (!read_replay_header(start, REPLAY_HEADER_SIZE, &h, &error))
        return 0;
    if (h.kind != REPLAY_GAME)
        return replay_error(&error, "byte 5: a game watched live is a game, not a session");
    leave_for_watching();
    begin_watching(&h);
    return 1;
}

// The chunk of `size` bytes in web_replay_body(), beginning at step `from`.
// Returns 0 with web_replay_error set when it cannot be added.
EMSCRIPTEN_KEEPALIVE int web_live_chunk(long from, long size)
{
    using namespace kiv;
    if (!watching() || !watch.live)
        return replay_error(&error, "no game is watched live");
    return add_live_chunk(from, replay_body, size, &error);
}

// The stream has ended, with the game's last frames or without them.
EMSCRIPTEN_KEEPALIVE void web_live_end(int whole)
{
    if (kiv::watching())
        kiv::end_live_watch(whole != 0);
}

// 1, 4 or 16 times the game's speed; 0 pauses.
EMSCRIPTEN_KEEPALIVE void web_watch_speed(int speed)
{
    kiv::watch.paused = speed == 0;
    if (speed > 0)
        kiv::watch.speed = speed > 16 ? 16 : speed;
}

EMSCRIPTEN_KEEPALIVE void web_watch_stop()
{
    kiv::stop_watching();
}

} // extern "C"
