// The fixed-step main loop.
#include "frame/loop.h"

#include "events/spawner.h"
#include "events/events.h"
#include "frame/game.h"
#include "frame/game_over.h"
#include "frame/startup.h"
#include "frame/title.h"
#include "media/draw.h"
#include "media/input.h"
#include "media/playfield_draw.h"
#include "media/sound.h"
#include "sim/motion.h"
#include "sim/pan.h"
#include "sim/scoring.h"

namespace kiv {

int step_clock;
int quit_requested;
bool playing_replay;

static void nothing_after_step() {}
void (*after_step)() = nothing_after_step;

int steps_due()
{
    int t = static_cast<int>(read_clock());
    // Unsigned difference: the millisecond clock may wrap after 49 days.
    int k = static_cast<int>(static_cast<unsigned>(t) - static_cast<unsigned>(step_clock)) / STEP_MS;
    if (k <= 0) {
        sleep_for(static_cast<unsigned>(step_clock + STEP_MS - t));
        step_clock = step_clock + STEP_MS;
        return 1;
    }
    step_clock = step_clock + STEP_MS * k;
    if (k > MAX_STEPS_PER_FRAME) {
        // A stall is not caught up: the backlog beyond five steps is dropped.
        step_clock = t;
        k = MAX_STEPS_PER_FRAME;
    }
    return k;
}

void run_step()
{
    gather_step_input();
    switch (game_state) {
    case STATE_TITLE:
        event_pressure = 0;
        pace = START_PACE;
        update_spawner();
        update_balls();
        title_update();
        break;
    case STATE_PLAYING:
        update_spawner();
        update_popups();
        update_balls();
        // A ball lost in update_balls does not cut the rest of the step short.
        update_pan();
        update_events();
        count_up_score();
        break;
    case STATE_ENDING:
        update_balls();
        ending_step();
        break;
    case STATE_GAME_OVER:
        game_over_update();
        break;
    }
}

void draw_frame()
{
    clear_screen();
    switch (game_state) {
    case STATE_TITLE:
        draw_balls();
        title_draw();
        break;
    case STATE_PLAYING:
        fill_side_panel();
        draw_popups();
        draw_pan();
        draw_number(shown_score, 0, 0);
        draw_balls();
        draw_events();
        break;
    case STATE_ENDING:
        fill_side_panel();
        draw_number(shown_score, 0, 0);
        draw_balls();
        break;
    case STATE_GAME_OVER:
        game_over_draw();
        break;
    }
    flip_screen();
    play_requested_effects();
    pace = pace + 1;
}

void handle_escape()
{
    if (game_state == STATE_TITLE)
        quit_requested = 1;
    else
        go_to_title();
}

void handle_window_close()
{
    quit_requested = 1;
}

void run_frame()
{
    int k = steps_due();
    for (int i = 0; i < k; i++) {
        run_step();
        after_step();
    }
    draw_frame();
    poll_events();
    if (quit_requested)
        quit_game();
}

} // namespace kiv
