// The page's recorded games and the games it watches.
#pragma once

#include "media/input.h"
#include "replay/format.h"

namespace kiv {

// Recording, called by the page's loop: around every frame, and for every
// Escape while a game is recorded (every step's input goes to record_step).
void begin_recorded_frame();
void end_recorded_frame();
void note_escape();
// A game has been started and waits for the page to give its seed: no frame
// runs meanwhile.
bool waiting_for_seed();

bool watching();
// Leaves a game in play (unrecorded) or a watched game for the title.
void leave_for_watching();
// Starts watching `replay`, read into it, from its start; or given a
// game's start, that game as it is played, nothing held yet.
void begin_watching(const ReplayHeader* live = nullptr);
// Runs the frames of the watched game that are due; returns the
// milliseconds until the next one is.
int watch_tick();
// Ends watching and returns to the title as it was.
void stop_watching();

// The loop's pending Escape presses, taken.
int take_escapes();
// Forgets the motion and keys that arrived while watching, and the steps
// that fell due meanwhile.
void drop_pending_input();

} // namespace kiv
