// The input record of one 10 ms step: the relative pointer motion and the
// button mask. The game fills it from SDL, tests and replays from a script;
// the simulation reads it only through read_pointer.
#pragma once

namespace kiv {

struct StepInput {
    int dx, dy;     // relative motion not yet consumed by read_pointer
    int buttons;    // button mask; bit 0 = left button
};

extern StepInput step_input;

// Where a step's input comes from: it adds the motion since the last call to
// dx, dy and sets buttons. The game's default is the platform's mouse.
using InputSource = void (*)(StepInput* input);
extern InputSource input_source;
void read_system_input(StepInput* input);

// Called by the main loop before every step.
void gather_step_input();

// Where the system mouse is over the window, which the pointer returns to
// on the title in a window. The game's default is the platform's mouse; a
// replay of a game in a window gives the places it recorded.
using PointerSource = void (*)(int* x, int* y);
extern PointerSource pointer_source;
void read_system_pointer(int* x, int* y);

} // namespace kiv
