// The desktop's side of the main loop: SDL's millisecond clock, its event
// queue, and a loop that runs frames for ever, each of them recorded.
#include <SDL.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "frame/loop.h"
#include "platform/sdl/session.h"
#include "platform/sdl/video.h"

namespace kiv {

// SDL turns SIGINT and SIGTERM into a window close; a hangup (the terminal
// or the ssh connection the game was started from has gone) is one too.
static volatile std::sig_atomic_t hangup;
static void on_hangup(int) { hangup = 1; }

static unsigned sdl_clock() { return SDL_GetTicks(); }
static void sdl_sleep(unsigned ms) { SDL_Delay(ms); }

unsigned (*read_clock)() = sdl_clock;
void (*sleep_for)(unsigned ms) = sdl_sleep;

void poll_events()
{
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        // A held key repeats; only the press counts.
        if (event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_ESCAPE && !event.key.repeat) {
            note_escape();
            handle_escape();
        } else if (event.type == SDL_QUIT) {
            record_close();
            handle_window_close();
        }
    }
    if (hangup) {
        record_close();
        handle_window_close();
    }
}

void main_loop()
{
    std::signal(SIGHUP, on_hangup);
    in_main_loop = true;
    for (;;) {
        run_frame();
        end_session_frame();
    }
}

void exit_program(int status)
{
    save_session();
    // Without a display, the SDL_Quit run at exit would wait for ever.
    if (display_lost) {
        std::fflush(nullptr);
        _exit(status);
    }
    std::exit(status);
}

} // namespace kiv
