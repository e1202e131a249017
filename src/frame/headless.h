// Runs the real game frame by frame with scripted input and no window:
// the base of the replay tests, the property tests and the benchmarks.
#pragma once

#include "media/input.h"

namespace kiv {

// The first call opens the dummy video driver (a real 8-bit surface in
// memory) as a full-screen game with sound off, loading the pictures from
// images/ in the working directory (a missing picture ends the process, as in
// the game). Frames are drawn into that surface but not presented. Every call
// seeds rand, takes input from the step script and enters the title. Other
// globals keep their values: a replay that must match
// a recording starts in a fresh process. Returns 1 when the screen is open.
int start_headless(unsigned seed);

// Supplies the input record of each step.
using StepScript = void (*)(int step, StepInput* input, void* context);
void set_step_script(StepScript script, void* context);

// Called after every step, e.g. to fingerprint the game's records.
using StepObserver = void (*)(void* context);
void set_step_observer(StepObserver observer, void* context);

// Runs one frame of k steps (1..5) with the frame's key events (number of
// Escape presses, window close), as the main loop would.
void run_headless_frame(int k, int escapes = 0, int close = 0);

// Steps run by the headless driver since start_headless.
extern long headless_steps;

} // namespace kiv
