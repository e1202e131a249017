// Watching a replay as the game played it: its frames as the clock passes,
// at 1, 4 or 16 times their speed, paused, or skipped unseen to the next
// game's Start. A game from its Start goes on to the end of its game-over
// screen with no input; a session ends with its last frame. The page and
// kiv-watch show it.
#pragma once

#include "replay/format.h"

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
// Watching a game as it is played: `replay` holds its start and the frames
// the board has given so far. The watch plays about LIVE_LEAD_STEPS behind
// the last step held, so that a chunk a second keeps it running: further
// behind (a watcher come late, a tab that slept) it is taken there unseen;
// out of frames, it waits until the lead is back.
constexpr long LIVE_LEAD_STEPS = 150;
constexpr long LIVE_CATCH_UP_STEPS = 400;
// Starts watching the game that began as `start` says, nothing held yet.
void start_live_watch(const ReplayHeader& start);
// Adds a chunk (whole frames in the body's layout) that begins at step
// `from`, at or before the last step held; the steps it repeats are the
// same. False, nothing added, when it is malformed or leaves a gap.
bool add_live_chunk(long from, const unsigned char* chunk, long size, ReplayError* error);
// The stream has ended, with the game's last frames (`whole`: it is played
// out to its game-over screen) or without them (watched to its last frame
// held, then live_cut_off()).
void end_live_watch(bool whole);
// The play time to run of the `passed` ms the clock gave, for
// advance_watch: none while the watch waits for its lead.
double live_passed(double passed);
bool live_cut_off();
// Where the replay has got to: the frame next played and all of them.
long watched_frame();
long watched_frames();

} // namespace kiv
