// The per-step input record.
#include "media/input.h"

#include <SDL.h>

namespace kiv {

StepInput step_input;
InputSource input_source = read_sdl_input;

void read_sdl_input(StepInput* input)
{
    int dx = 0;
    int dy = 0;
    Uint8 buttons = SDL_GetRelativeMouseState(&dx, &dy);
    // Motion nobody read in earlier steps (the ending countdown reads no
    // pointer) is kept for the next reader, as SDL itself would keep it.
    input->dx += dx;
    input->dy += dy;
    input->buttons = buttons;
}

void gather_step_input()
{
    input_source(&step_input);
}

} // namespace kiv
