// Watching a replay as the game played it: its frames as the clock passes,
// at 1, 4 or 16 times their speed, paused, or skipped unseen to the next
// game's Start. A game from its Start goes on to the end of its game-over
// screen with no input; a session ends with its last frame. The page and
// kiv-watch show it.
#pragma once

namespace kiv {

struct Watch {
    int speed;         // 1, 4 or 16
    bool paused;
    bool finishing;    // past a game's last frame, on its game-over screen
    double budget_ms;  // play time due and not yet run
    bool live;         // a game still being played: at its last frame held the watch waits for more
};
extern Watch watch;

// Starts watching `replay` (read into it) from its start.
void start_watch();
// Runs what `passed` milliseconds of the clock bring (a stall counts as a
// quarter of a second at most). Returns the milliseconds until more is due,
// or -1 once the replay has ended.
int advance_watch(double passed);
// Runs the replay, neither drawn nor heard, up to the frame in which the next
// game starts. False when none does before the replay ends.
bool skip_to_next_start();
// Runs the replay, neither drawn nor heard, up to its frame `frame`.
void skip_to_frame(long frame);
// Where the replay has got to: the frame next played and all of them.
long watched_frame();
long watched_frames();

} // namespace kiv
