// A game as it was played: the one form of a game's replay.
//
// Many replays play one game. From its Start to game over the game reads no
// button (bit 0 is read on the title and the game-over screen only), no
// motion while the game is ending, and of a motion only where the pointer
// lands (a motion past the screen's edge, or too small to move the pointer
// at the mouse's speed, lands where a smaller one does); and nothing of the
// steps after the one in which the game ended, nor that frame's Escape
// presses or close. A game played as_played (verify_replay) rewrites each
// step's input in `replay` as the game read it: no buttons, and for each
// read of the pointer the motion nearest zero that lands it where it
// landed, all of it in the step that read it. What it comes to plays the
// same game to the same score, step for step, and is the same for every
// replay of that game at one mouse speed. The board keeps and serves each
// game in this form.
#pragma once

namespace kiv {

// After each step of a game played as_played: that step's input as the
// game read it, and the step in which the game ended.
void keep_as_played();

// After verify_replay(..., as_played) of a game played to game over:
// `replay` becomes the game as played, its last frame cut at the step in
// which the game ended, without Escape presses or a close; its header's
// steps, frames and fingerprint those of that game (its screens'
// fingerprint not given). False, and nothing changed, for a replay that
// was not such a game.
bool make_as_played();

// The motion nearest zero that moves a pointer coordinate from `from` to
// `to` (pointer_moved, at the mouse speed of the game in play), where
// `motion` is one that does.
int least_motion(int from, int to, int motion, int size);

} // namespace kiv
