// Playing a replay with the game's own code.
#include "replay/run.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "events/events.h"
#include "frame/game.h"
#include "frame/loop.h"
#include "frame/title.h"
#include "media/catalogue.h"
#include "media/draw.h"
#include "media/input.h"
#include "media/playfield_draw.h"
#include "media/sound.h"
#include "replay/as_played.h"
#include "sim/balls.h"
#include "sim/motion.h"
#include "sim/pan.h"
#include "sim/scoring.h"

namespace kiv {

ReplayRun replay_run;

void reset_game_records()
{
    game_state = STATE_TITLE;
    score = shown_score = high_score = next_milestone = pace = 0;
    spawn_timer = event_pressure = end_timer = game_over_timer = 0;
    title_wave = hover_start = hover_quit = menu_x = menu_y = menu_buttons = 0;
    std::memset(balls, 0, sizeof balls);
    ball_cursor = MAX_BALLS;
    pan = Pan{};
    pan_bottom = pan_left_wall = pan_right_wall = PanSegment{};
    pan_bottom_prev = pan_left_wall_prev = pan_right_wall_prev = PanSegment{};
    std::memset(popups, 0, sizeof popups);
    popup_cursor = MAX_POPUPS;
    multiplier = last_multiplier = 1;
    combo_timer = 0;
    std::memset(events, 0, sizeof events);
    event_cursor = MAX_EVENTS;
    gravity[0] = gravity[1] = gravity[2] = 0.0f;
    miss_x = 0.0f;
    combo_label_y = 480;
    combo_label_value = 0;
    pointer_x = pointer_y = 0;
    step_input = StepInput{0, 0, 0};
    std::memset(effect_requested, 0, sizeof effect_requested);
    std::memset(effect_requested_in_step, 0, sizeof effect_requested_in_step);
    current_track = 0;
    next_track = 0;
    music_advances = 0;
    quit_requested = 0;
}

void start_recorded_game(const ReplayHeader& h)
{
    reset_game_records();
    mouse_speed = h.mouse_speed;
    high_score = h.high_score;
    pointer_x = menu_x = h.pointer_x;
    pointer_y = menu_y = h.pointer_y;
    // The title as the press on Start left it.
    title_wave = -48;
    hover_start = 1;
    menu_buttons = 1;
    new_game();
    // The title's frame in which Start was pressed counted as well.
    pace = START_PACE + 1;
    std::srand(h.seed);
}

namespace {

// Motion left unread adds up; a stranger's numbers cannot carry it past
// what an int holds.
int add_motion(int total, int motion)
{
    const long long sum = static_cast<long long>(total) + motion;
    return sum > INT_MAX ? INT_MAX : sum < INT_MIN ? INT_MIN : static_cast<int>(sum);
}

void replay_input(StepInput* input)
{
    const StepInput& in = replay.input[replay_run.step < replay.steps ? replay_run.step : replay.steps - 1];
    input->dx = replay_run.fed_x = add_motion(input->dx, in.dx);
    input->dy = replay_run.fed_y = add_motion(input->dy, in.dy);
    input->buttons = in.buttons;
}

void replay_pointer(int* x, int* y)
{
    if (replay_run.returns < replay.returns) {
        const PointerPlace& p = replay.place[replay_run.returns++];
        *x = p.x;
        *y = p.y;
        return;
    }
    if (replay_run.short_frame < 0)
        replay_run.short_frame = replay_run.frame;
    *x = SCREEN_W / 2;
    *y = SCREEN_H / 2;
}

} // namespace

bool game_in_play()
{
    return game_state == STATE_PLAYING || game_state == STATE_ENDING;
}

void start_replay(bool fingerprint, bool screens, bool as_played)
{
    replay_run = ReplayRun{};
    replay_run.fingerprinting = fingerprint;
    replay_run.screens = screens;
    replay_run.short_frame = -1;
    input_source = replay_input;
    playing_replay = true;
    const ReplayHeader& h = replay.header;
    if (h.kind == REPLAY_GAME) {
        start_recorded_game(h);
        replay_run.as_played = as_played;
        replay_run.read_x = pointer_x;
        replay_run.read_y = pointer_y;
        return;
    }
    // A session starts as the program does.
    reset_game_records();
    windowed = h.windowed;
    pointer_source = h.windowed ? replay_pointer : read_system_pointer;
    mouse_speed = h.mouse_speed;
    high_score = h.high_score;
    std::srand(h.seed);
    go_to_title();
}

bool run_replay_frame()
{
    if (replay_run.frame >= replay.frames)
        return false;
    const ReplayFrame& fr = replay.frame[replay_run.frame];
    for (int i = 0; i < fr.steps; i++) {
        run_step();
        replay_run.step++;
        if (replay_run.fingerprinting)
            add_step(replay_run.fp);
        if (replay_run.as_played)
            keep_as_played();
    }
    const bool game = replay.header.kind == REPLAY_GAME;
    if (game && !replay_run.ended && !game_in_play()) {
        replay_run.ended = END_OVER;
        replay_run.ended_frame = replay_run.frame;
    }
    draw_frame();
    if (replay_run.screens)
        add_frame(replay_run.fp);
    for (int i = 0; i < fr.escapes; i++)
        handle_escape();
    if (fr.close)
        handle_window_close();
    if (game && !replay_run.ended && (!game_in_play() || quit_requested)) {
        replay_run.ended = END_LEFT;
        replay_run.ended_frame = replay_run.frame;
    }
    replay_run.frame++;
    return true;
}

void stop_replay()
{
    input_source = read_system_input;
    pointer_source = read_system_pointer;
    playing_replay = false;
}

bool verify_replay(ReplayResult* result, ReplayError* error, bool screens, bool as_played)
{
    const ReplayHeader& h = replay.header;
    start_replay(true, screens, as_played);
    while (replay_run.frame < replay.frames) {
        if (replay_run.ended || quit_requested)
            return replay_error(error, "frame %ld: the game ended in frame %ld, yet the replay goes on for %ld frames",
                                replay_run.frame, replay_run.ended ? replay_run.ended_frame : replay_run.frame - 1,
                                replay.frames - replay_run.frame);
        run_replay_frame();
    }
    const long last = replay.frames - 1;
    if (replay_run.short_frame >= 0)
        return replay_error(error, "frame %ld: the game returns to the title more often than the %ld places the "
                            "replay holds for its pointer", replay_run.short_frame, replay.returns);
    if (replay_run.returns < replay.returns)
        return replay_error(error, "frame %ld: the game returned to the title %ld times, yet the replay holds %ld "
                            "places for its pointer", last, replay_run.returns, replay.returns);
    if (h.kind == REPLAY_GAME && !replay_run.ended)
        return replay_error(error, "frame %ld: the replay ends while the game is still running", last);
    if (replay_run.ended != h.end) {
        const char* const ends[] = {"not ended", "over", "left"};
        return replay_error(error, "frame %ld: the game was %s, not %s as the header says", last,
                            ends[replay_run.ended], ends[h.end]);
    }
    if (score != h.score)
        return replay_error(error, "frame %ld: the game scores %d, not the %d the header claims", last, score,
                            h.score);
    if (h.fingerprint && h.fingerprint != replay_run.fp.hash)
        return replay_error(error,
                            "frame %ld: the game differs from the one recorded (fingerprint %016llx, not %016llx)",
                            last, static_cast<unsigned long long>(replay_run.fp.hash),
                            static_cast<unsigned long long>(h.fingerprint));
    *result = ReplayResult{score,
                           replay_run.step,
                           replay_run.frame,
                           static_cast<double>(replay_run.step) * STEP_MS / 1000.0,
                           replay_run.fp.hash,
                           replay_run.fp.screens,
                           replay_run.ended};
    return true;
}

} // namespace kiv
