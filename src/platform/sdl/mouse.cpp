// The desktop's mouse as the game reads it, step by step.
//
// Full screen the pointer is the game's alone: SDL's relative mode hands it
// the mouse's own motion, however far the mouse goes.
//
// In a window the pointer is where the system mouse is over the picture.
// Each step hands the game how far that place has moved since the step
// before, so the pointer follows every motion whatever its size, and also
// across the window's edge. (SDL's own relative motion in a window counts
// nothing until its first event has told it where the mouse is, and
// nothing of the way the mouse went outside the window.) At each title the
// pointer is put back on the mouse's place; before SDL has heard of the
// mouse, or while the mouse is off the window, that place is asked of the
// display.
#include <SDL.h>

#include <cmath>

#include "frame/game.h"
#include "media/input.h"
#include "platform/sdl/video.h"
#include "replay/record.h"

namespace kiv {

namespace {

// The mouse's place over the picture that the game's pointer was last
// moved to, kept on the picture.
int handed_x, handed_y;
// SDL's place of the mouse in the window when last looked at.
int sdl_x, sdl_y;

// SDL's place of the mouse on the picture; true while the mouse is over the
// window (or held by it with a button down), when that place is live.
// Otherwise SDL keeps where the mouse left the window, or (0, 0) before it
// has heard of the mouse at all.
bool sdl_place(int* x, int* y, bool* moved)
{
    int wx = 0, wy = 0;
    SDL_GetMouseState(&wx, &wy);
    *moved = wx != sdl_x || wy != sdl_y;
    sdl_x = wx;
    sdl_y = wy;
    window_to_picture(wx, wy, x, y);
    SDL_Window* window = game_window();
    return window && SDL_GetMouseFocus() == window;
}

} // namespace

void read_system_input(StepInput* input)
{
    StepInput in{0, 0, 0};
    if (windowed) {
        in.buttons = static_cast<int>(SDL_GetMouseState(nullptr, nullptr) & 0xff);
        int x, y;
        bool moved;
        // Off the window SDL's place stands still, but for the last motion
        // that took the mouse out.
        if (sdl_place(&x, &y, &moved) || moved) {
            in.dx = x - handed_x;
            in.dy = y - handed_y;
            handed_x = x;
            handed_y = y;
        }
    } else {
        in.buttons = static_cast<int>(SDL_GetRelativeMouseState(&in.dx, &in.dy) & 0xff);
    }
    record_step(in);
    // Motion nobody read in earlier steps (the ending countdown reads no
    // pointer) is kept for the next reader, as SDL itself would keep it.
    input->dx += in.dx;
    input->dy += in.dy;
    input->buttons = in.buttons;
}

void read_system_pointer(int* x, int* y)
{
    bool moved;
    int wx, wy;
    if (!sdl_place(x, y, &moved) && ask_display_for_mouse(&wx, &wy))
        window_to_picture(wx, wy, x, y);
    handed_x = *x;
    handed_y = *y;
    // Motion the game holds but has not applied (the ending countdown reads
    // no pointer) comes on top of this place at the title's first step, and
    // the mouse's place has it already: the place is taken back by it, so
    // that the pointer lands on the mouse. (Held motion in a window is at
    // most the picture's width, so the place keeps to 16 bits.)
    *x -= static_cast<int>(std::floor(static_cast<float>(step_input.dx) * mouse_speed));
    *y -= static_cast<int>(std::floor(static_cast<float>(step_input.dy) * mouse_speed));
    record_pointer(*x, *y);
}

} // namespace kiv
