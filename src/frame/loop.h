// The fixed-step main loop: 10 ms steps, at most five per drawn frame.
#pragma once

namespace kiv {

constexpr int STEP_MS = 10;
constexpr int MAX_STEPS_PER_FRAME = 5;

extern int step_clock;       // ms up to which steps have been accounted
extern int quit_requested;   // set by Escape on the title or closing the window
// Set while a replay plays: quitting then ends the replay, not the program.
extern bool playing_replay;

// The clock is a seam: the game uses the platform's millisecond clock and
// sleep, tests a fake clock.
extern unsigned (*read_clock)();
extern void (*sleep_for)(unsigned ms);

// Reads the clock and returns the number of steps to run now (1..5),
// sleeping first when less than one step is due.
int steps_due();
// Gathers the step's input record and runs one step of the current state.
void run_step();
// Draws the frame for the current state, presents it, plays the effects
// requested during the frame and counts the frame in pace.
void draw_frame();
// Key and window events of a frame.
void handle_escape();
void handle_window_close();
// Drains the platform's queue of key and window events into the handlers
// above.
void poll_events();
// One whole frame: steps due, the steps, the drawing, the events, and the
// quit when one was requested.
void run_frame();
// Called after every step that run_frame runs: the desktop's recording
// takes the step's fingerprint there.
extern void (*after_step)();
// Runs frames for ever, as the platform drives them; the program ends in
// quit_game.
[[noreturn]] void main_loop();
// Ends the program with this status, at once.
[[noreturn]] void exit_program(int status);

} // namespace kiv
