// The web build's side of the main loop. The page calls web_tick from a
// timer: a frame runs when a step is due, as on the desktop, whatever the
// display's rate, and the canvas shows the newest frame at the animation
// frame that follows. Mouse, touch and keys come from the page, which hands
// them over through the functions below.
#include <emscripten.h>

#include "frame/game.h"
#include "frame/loop.h"
#include "frame/startup.h"
#include "media/catalogue.h"
#include "media/input.h"
#include "platform/web/replays.h"
#include "replay/record.h"
#include "replay/run.h"

namespace kiv {

namespace {

constexpr int SEED_POLL_MS = 50;

double start_ms = emscripten_get_now();
int pending_dx, pending_dy, buttons, pending_escapes;

unsigned web_clock() { return static_cast<unsigned>(emscripten_get_now() - start_ms); }

// Never called: a frame runs only when a step is due.
void web_sleep(unsigned) {}

EM_JS(void, start_page_loop, (), { Module["kivStartLoop"](); });
EM_JS(void, stop_page_loop, (), { Module["kivStopLoop"](); });

int until_next_step()
{
    int wait = step_clock + STEP_MS - static_cast<int>(read_clock());
    return wait > 0 ? wait : 0;
}

} // namespace

unsigned (*read_clock)() = web_clock;
void (*sleep_for)(unsigned ms) = web_sleep;

void read_system_input(StepInput* input)
{
    StepInput in{pending_dx, pending_dy, buttons};
    pending_dx = pending_dy = 0;
    record_step(in);
    input->dx += in.dx;
    input->dy += in.dy;
    input->buttons = in.buttons;
}

// Escape leaves a game, or the game-over screen, for the title, as on the
// desktop; on the title it only frees the mouse (the browser's own doing):
// in a page many press it for that, and the tab is the way out of the page.
void poll_events()
{
    for (; pending_escapes > 0; pending_escapes--) {
        if (game_state == STATE_TITLE)
            continue;
        note_escape();
        handle_escape();
    }
}

// The page records each game on its own, from its Start (replays.cpp),
// not the whole run.
void start_run_recording(unsigned) {}

int take_escapes()
{
    int n = pending_escapes;
    pending_escapes = 0;
    return n;
}

void drop_pending_input()
{
    pending_dx = pending_dy = pending_escapes = 0;
    step_clock = static_cast<int>(read_clock());
}

void main_loop()
{
    // Leaves main with the runtime alive; the page's timer calls web_tick.
    start_page_loop();
    emscripten_exit_with_live_runtime();
    __builtin_unreachable();
}

// The game has ended: no more frames.
void close_video()
{
    stop_page_loop();
}

// Shuts the page's runtime down at once (the runtime would otherwise wait for
// the next animation frame, which does not come when the page is going
// away): the high score is stored and the page says that the game ended.
void exit_program(int status)
{
    emscripten_force_exit(status);
    __builtin_unreachable();
}

} // namespace kiv

extern "C" {

// Runs a frame if a step is due (or the frames of a replay being watched);
// returns the milliseconds until the next one is. A game waiting for its
// seed runs no frame: the page wakes the loop when it has the answer, and
// looks again now and then meanwhile.
EMSCRIPTEN_KEEPALIVE int web_tick()
{
    if (kiv::watching())
        return kiv::watch_tick();
    if (kiv::waiting_for_seed())
        return kiv::SEED_POLL_MS;
    int wait = kiv::until_next_step();
    if (wait > 0)
        return wait;
    kiv::begin_recorded_frame();
    kiv::run_frame();
    kiv::end_recorded_frame();
    return kiv::until_next_step();
}

// A game is in play (or waits at its start for its seed): its frames must
// keep their pace, even in a hidden tab.
EMSCRIPTEN_KEEPALIVE int web_in_game()
{
    return kiv::game_in_play() && !kiv::watching();
}

// Pointer motion in screen pixels, the button mask (bit 0 = left).
EMSCRIPTEN_KEEPALIVE void web_pointer_motion(int dx, int dy)
{
    kiv::pending_dx += dx;
    kiv::pending_dy += dy;
}

EMSCRIPTEN_KEEPALIVE void web_pointer_buttons(int mask)
{
    kiv::buttons = mask;
}

EMSCRIPTEN_KEEPALIVE void web_escape()
{
    kiv::pending_escapes++;
}

// The high score the title shows.
EMSCRIPTEN_KEEPALIVE int web_high_score()
{
    return kiv::high_score;
}

// The page is going away: as when the window is closed, the game quits and
// keeps its high score (not one a watched game reached).
EMSCRIPTEN_KEEPALIVE void web_close()
{
    if (kiv::watching())
        kiv::stop_watching();
    kiv::handle_window_close();
    kiv::quit_game();
}

} // extern "C"
