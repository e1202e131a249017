// kiv-watch: a replay played in a window.
#include "platform/sdl/watch.h"

#include <SDL.h>

#include <cstdio>
#include <cstring>

#include "frame/game.h"
#include "media/catalogue.h"
#include "media/sound.h"
#include "platform/sdl/video.h"
#include "replay/file.h"
#include "replay/run.h"
#include "replay/watch.h"

namespace kiv {

namespace {

// The caption tells where the replay is and how it plays: "Kiv replay
// 1:23 / 5:00 (4x)", or "(4x, paused)" with the speed it goes on at.
void show_progress(const char* file, long shown[2])
{
    const long at = replay_run.step, length = replay.steps;
    const long now[2] = {at / 100, watch.paused ? -watch.speed : watch.speed};
    if (now[0] == shown[0] && now[1] == shown[1])
        return;
    shown[0] = now[0];
    shown[1] = now[1];
    char caption[512];
    std::snprintf(caption, sizeof caption, "Kiv replay %ld:%02ld / %ld:%02ld (%dx%s) %s", at / 6000, at / 100 % 60,
                  length / 6000, length / 100 % 60, watch.speed, watch.paused ? ", paused" : "", file);
    set_window_caption(caption);
}

} // namespace

int watch_replay(int argc, char** argv)
{
    const char* file = nullptr;
    bool usage = false;
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "-nosound") == 0)
            sound_off = 1;
        else if (argv[i][0] == '-' || file)
            usage = true;
        else
            file = argv[i];
    }
    if (usage || !file) {
        std::fprintf(stderr, "usage: kiv-watch [-nosound] FILE\n");
        return 2;
    }
    ReplayError error;
    ReplayResult result;
    if (!load_replay(file, &error) || !verify_replay(&result, &error)) {
        std::fprintf(stderr, "%s: %s\n", file, error.text);
        return 1;
    }

    init_watch_video();
    if (!sound_off)
        init_sound();
    start_watch();
    long shown[2] = {-1, 0};
    Uint32 last = SDL_GetTicks();
    for (bool stop = false; !stop;) {
        SDL_Event event;
        while (SDL_PollEvent(&event)) {
            if (event.type == SDL_QUIT) {
                stop = true;
            } else if (event.type == SDL_KEYDOWN && !event.key.repeat) {
                switch (event.key.keysym.sym) {
                case SDLK_ESCAPE: stop = true; break;
                case SDLK_SPACE: watch.paused = !watch.paused; break;
                case SDLK_1: watch.speed = 1; break;
                case SDLK_2: watch.speed = 4; break;
                case SDLK_3: watch.speed = 16; break;
                case SDLK_n:
                    if (!skip_to_next_start())
                        stop = true;
                    break;
                default: break;
                }
            }
        }
        Uint32 now = SDL_GetTicks();
        int wait = stop ? -1 : advance_watch(static_cast<double>(now - last));
        last = now;
        if (wait < 0)
            break;
        show_progress(file, shown);
        SDL_Delay(static_cast<Uint32>(wait < 20 ? wait : 20));
    }
    if (!sound_off)
        shutdown_sound();
    stop_replay();
    close_video();
    return 0;
}

} // namespace kiv
