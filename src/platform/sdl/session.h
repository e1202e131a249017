// Every run of the desktop game is recorded as a session replay, from the
// start of the program to its end, and kept in the player's data directory:
// $XDG_DATA_HOME/kiv/replays (~/.local/share/kiv/replays), the newest 100.
#pragma once

#include "replay/record.h"

namespace kiv {

// An Escape press, as the platform hands it to the game (the step's input,
// a window close and the pointer's places go to record_step, record_close
// and record_pointer).
void note_escape();
// The main loop's frame has ended.
void end_session_frame();
// At the exit: the run's replay is written, unless the run never left the
// title. A failure is reported in one line and changes nothing else.
void save_session();

} // namespace kiv
