// Watching a replay as the game played it.
#include "replay/watch.h"

#include <cstring>

#include "frame/game.h"
#include "frame/loop.h"
#include "media/draw.h"
#include "media/input.h"
#include "media/screen.h"
#include "media/sound.h"
#include "replay/run.h"

namespace kiv {

Watch watch;

namespace {

constexpr double LONGEST_STALL_MS = 250.0;

// The game-over screen after a game's last frame runs on by itself.
void no_input(StepInput* input)
{
    input->buttons = 0;
}

// Skipped frames make no sound either.
void present_silence()
{
    for (int& k : effect_requested)
        k = 0;
}

bool at_end()
{
    return replay_run.frame >= replay.frames;
}

double next_frame_ms()
{
    return watch.finishing || at_end() ? STEP_MS : replay.frame[replay_run.frame].steps * STEP_MS;
}

} // namespace

void start_watch()
{
    start_replay(false, false);
    watch = Watch{1, false, false, 0.0, false};
}

int advance_watch(double passed)
{
    if (!watch.paused)
        watch.budget_ms += (passed < LONGEST_STALL_MS ? passed : LONGEST_STALL_MS) * watch.speed;
    for (;;) {
        if (watch.finishing) {
            if (game_state == STATE_TITLE)
                return -1;
            if (watch.budget_ms < STEP_MS)
                break;
            watch.budget_ms -= STEP_MS;
            run_step();
            draw_frame();
            continue;
        }
        if (at_end()) {
            if (watch.live) {
                // No backlog for when the next frames come.
                watch.budget_ms = 0.0;
                break;
            }
            if (replay.header.kind != REPLAY_GAME)
                return -1;
            watch.finishing = true;
            input_source = no_input;
            continue;
        }
        if (watch.budget_ms < next_frame_ms())
            break;
        watch.budget_ms -= next_frame_ms();
        run_replay_frame();
        // A session's quit ended the program it was recorded in: here the
        // replay goes on to its end, which comes with that frame.
        quit_requested = 0;
    }
    if (watch.paused)
        return 50;
    double wait = (next_frame_ms() - watch.budget_ms) / watch.speed;
    return wait > 0.0 ? static_cast<int>(wait) : 0;
}

namespace {

// Frames run between these two are neither drawn nor heard.
void (*seen_present)();
int seen_drawing;

void begin_unseen()
{
    seen_present = present_screen;
    seen_drawing = drawing_on;
    present_screen = present_silence;
    drawing_on = 0;
}

void end_unseen()
{
    present_screen = seen_present;
    drawing_on = seen_drawing;
    watch.budget_ms = 0.0;
}

} // namespace

void skip_to_frame(long frame)
{
    begin_unseen();
    while (replay_run.frame < frame && !at_end()) {
        run_replay_frame();
        quit_requested = 0;
    }
    end_unseen();
}

bool skip_to_next_start()
{
    if (watch.finishing)
        return false;
    begin_unseen();
    bool left_play = game_state != STATE_PLAYING, started = false;
    while (!started && !at_end()) {
        run_replay_frame();
        quit_requested = 0;
        started = left_play && game_state == STATE_PLAYING;
        left_play = left_play || game_state != STATE_PLAYING;
    }
    end_unseen();
    // The game's first frame is seen at once, also while paused.
    if (started && !at_end()) {
        run_replay_frame();
        quit_requested = 0;
    }
    return started;
}

namespace {

bool live_waiting;   // out of frames: waits for the lead to be back
bool live_ended;     // the stream ended without the game's last frames

// The frame in which step `step` runs, from the watch's place on.
long frame_of_step(long step)
{
    long f = replay_run.frame, s = replay_run.step;
    while (f < replay.frames && s + replay.frame[f].steps <= step)
        s += replay.frame[f++].steps;
    return f;
}

} // namespace

void start_live_watch(const ReplayHeader& start)
{
    replay.header = start;
    replay.frames = replay.steps = replay.returns = 0;
    start_watch();
    watch.live = true;
    live_waiting = true;
    live_ended = false;
}

bool add_live_chunk(long from, const unsigned char* chunk, long size, ReplayError* error)
{
    if (from > replay.steps)
        return replay_error(error, "the chunk begins at step %ld, after the %ld steps held", from, replay.steps);
    long f = 0, s = 0;
    while (s < from)
        s += replay.frame[f++].steps;
    if (s != from)
        return replay_error(error, "no frame begins at step %ld", from);
    // Read into the room past what is held: a chunk refused changes
    // nothing held. Its first frames repeat those held from `from` on.
    ReplayFrame* frame = replay.frame + replay.frames;
    StepInput* input = replay.input + replay.steps;
    long frames = 0, steps = 0;
    if (!read_chunk(chunk, size, MAX_REPLAY_STEPS - replay.steps, frame, input, &frames, &steps, error))
        return false;
    const long held_frames = replay.frames - f, held_steps = replay.steps - from;
    if (steps <= held_steps)
        return true;
    long repeated = 0;
    for (long i = 0; i < held_frames && i < frames; i++)
        repeated += frame[i].steps;
    if (held_frames > frames || repeated != held_steps)
        return replay_error(error, "the chunk's frames from step %ld are not those held", from);
    std::memmove(frame, frame + held_frames, static_cast<size_t>(frames - held_frames) * sizeof *frame);
    std::memmove(input, input + held_steps, static_cast<size_t>(steps - held_steps) * sizeof *input);
    replay.frames += frames - held_frames;
    replay.steps += steps - held_steps;
    return true;
}

void end_live_watch(bool whole)
{
    if (!watch.live)
        return;
    // Cut off, the watch stays live: it holds at the last frame held.
    watch.live = !whole;
    live_ended = !whole;
    live_waiting = false;
}

double live_passed(double passed)
{
    if (!watch.live || live_ended)
        return passed;
    if (replay.steps - replay_run.step > LIVE_CATCH_UP_STEPS)
        skip_to_frame(frame_of_step(replay.steps - LIVE_LEAD_STEPS));
    if (at_end())
        live_waiting = true;
    if (live_waiting && replay.steps - replay_run.step >= LIVE_LEAD_STEPS)
        live_waiting = false;
    return live_waiting ? 0.0 : passed;
}

bool live_cut_off()
{
    return watch.live && live_ended && at_end();
}

long watched_frame()
{
    return replay_run.frame;
}

long watched_frames()
{
    return replay.frames;
}

} // namespace kiv
