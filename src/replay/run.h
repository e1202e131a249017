// Playing a replay with the game's own code: for the verifier, the board,
// the replay tests and the page that watches a game.
#pragma once

#include <cstdint>

#include "replay/fingerprint.h"
#include "replay/format.h"

namespace kiv {

// Every record of the game back to its value at the start of the program.
void reset_game_records();

// The start of a recorded game, whatever was played before: the records of
// a game just begun, with the pointer, the mouse speed and the high score of
// the header, and the random generator seeded with its seed. The web page
// starts each of its games so, right after Start, and a replay of one
// starts from the same.
void start_recorded_game(const ReplayHeader& header);
// A game is played or ending: what a recorded game runs through, from Start
// to the game-over screen.
bool game_in_play();

// Where a replay being played has got to.
struct ReplayRun {
    long frame, step;       // next frame and step to run
    int ended;              // END_OVER or END_LEFT once a game's end is reached
    long ended_frame;       // the frame in which it ended
    bool fingerprinting;    // fold every step into fp
    bool screens;           // and every sixteenth drawn screen
    Fingerprint fp;
    long returns;           // the pointer's places taken
    long short_frame;       // the frame that found none left to take; -1 none
    // A game played as_played (as_played.h): each step's input in `replay`
    // rewritten as the game read it, and where the game ended.
    bool as_played;
    int fed_x, fed_y;       // the motion the game was handed in the step just run
    int read_x, read_y;     // where the pointer was when the game last read it
    long played_steps;      // the steps up to the one the game ended in; 0 while it runs
    long played_frames;     // the frames up to that one
    std::uint64_t played_fingerprint;  // the fingerprint after that step
};
extern ReplayRun replay_run;

// Sets the game up to play `replay` from its start (on the screen as it
// is: nothing is drawn without one), with its steps' input
// (and a session in a window, the places its pointer returns to) taken from
// it. Until stop_replay, quitting ends the replay, not the program. With
// as_played, each step's input is rewritten as the game read it as it runs.
void start_replay(bool fingerprint, bool screens, bool as_played = false);
// Runs the next frame as the main loop would: its steps, the drawing, its
// key events. A window close ends a session's play as quitting would.
// Returns false when no frame is left.
bool run_replay_frame();
// The game's own input again, and quitting ends the program.
void stop_replay();

struct ReplayResult {
    int score;
    long steps, frames;
    double seconds;
    std::uint64_t fingerprint, screens;
    int end;
};

// Plays `replay` (read with read_replay_body) to its end and checks it
// against its header: a game must go on to its last frame and end there, and
// its score and fingerprint must be those the header claims. With
// as_played, `replay` is rewritten as the game read it while it plays (see
// make_as_played).
bool verify_replay(ReplayResult* result, ReplayError* error, bool screens = false, bool as_played = false);

} // namespace kiv
