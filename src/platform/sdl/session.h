// Every run of the desktop game is recorded as a session replay, from the
// start of the program to its end, and kept in the player's data directory:
// $XDG_DATA_HOME/kiv/replays (~/.local/share/kiv/replays), the newest 100.
#pragma once

#include "media/input.h"

namespace kiv {

// What the frame being played brings, as the platform hands it to the game.
void note_step_input(const StepInput& input);
void note_escape();
void note_window_close();
// Where the pointer returned to on the title, in a window.
void note_pointer(int x, int y);
// The main loop's frame has ended.
void end_session_frame();
// At the exit: the run's replay is written, unless the run never left the
// title. A failure is reported in one line and changes nothing else.
void save_session();

} // namespace kiv
