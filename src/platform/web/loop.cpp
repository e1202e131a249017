// The web build's side of the main loop. The browser calls a frame at every
// animation frame; one runs when a step is due, so that frames and steps
// keep the desktop's pace at any display rate. Mouse, touch and keys come
// from the page, which hands them over through the functions below.
#include <emscripten.h>

#include "frame/game.h"
#include "frame/loop.h"
#include "frame/startup.h"
#include "media/catalogue.h"
#include "media/input.h"

namespace kiv {

namespace {

double start_ms = emscripten_get_now();
int pending_dx, pending_dy, buttons, pending_escapes;

unsigned web_clock() { return static_cast<unsigned>(emscripten_get_now() - start_ms); }

// Never called: a frame runs only when a step is due.
void web_sleep(unsigned) {}

void web_frame()
{
    if (static_cast<int>(read_clock() - static_cast<unsigned>(step_clock)) < STEP_MS)
        return;
    run_frame();
}

} // namespace

unsigned (*read_clock)() = web_clock;
void (*sleep_for)(unsigned ms) = web_sleep;

void read_system_input(StepInput* input)
{
    input->dx += pending_dx;
    input->dy += pending_dy;
    pending_dx = pending_dy = 0;
    input->buttons = buttons;
}

void poll_events()
{
    for (; pending_escapes > 0; pending_escapes--)
        handle_escape();
}

void main_loop()
{
    // Throws to leave main; the browser calls web_frame from then on.
    emscripten_set_main_loop(web_frame, 0, 1);
    __builtin_unreachable();
}

// The game has ended: no more frames.
void close_video()
{
    emscripten_cancel_main_loop();
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

// The page is going away: as when the window is closed, the game quits and
// keeps its high score.
EMSCRIPTEN_KEEPALIVE void web_close()
{
    kiv::handle_window_close();
    kiv::quit_game();
}

} // extern "C"
