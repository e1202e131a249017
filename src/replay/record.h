// Recording a replay into `replay` as the game plays: every step's input,
// every frame's steps and key events, and for a session in a window where
// the pointer returns to on the title. The page records each game so, the
// desktop each run of the program.
#pragma once

#include "replay/format.h"

namespace kiv {

// Starts recording with this header (its kind, seed and the rest of the
// start); nothing is held yet.
void start_recording(const ReplayHeader& header);
void stop_recording();
bool recording();

// What the frame being played brings; nothing while not recording.
void record_step(const StepInput& input);
void record_escape();
void record_close();
void record_pointer(int x, int y);
// The frame has ended: its steps and key events become the replay's next
// frame. Returns false when another frame might not fit (an hour is held).
bool record_frame();

} // namespace kiv
