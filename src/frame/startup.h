// Entry and exit: command line, the high-score file kiv.prf, quitting.
#pragma once

namespace kiv {

extern const char* const PREFS_FILE;   // "kiv.prf", relative to the working directory

// Parses the options into sound_off, windowed and mouse_speed (before the
// full-screen tripling). Returns 1 when they are valid; otherwise prints the
// usage line with argv[0] and returns 0.
int parse_options(int argc, char** argv);
// Reads kiv.prf into high_score (1,000,000 when it cannot be opened, -1 when
// it is shorter than four bytes). Returns 1 when the file was opened.
int read_high_score();
// Replaces kiv.prf with high_score as four big-endian bytes, atomically.
// Returns 1 when the file was written; failures are silent otherwise.
int write_high_score();

// Shuts sound and video down, writes kiv.prf and exits with status 1. While
// a replay plays it only sets quit_requested, which ends the replay.
void quit_game();
// Where the platform starts recording the run as a replay, if it does (the
// desktop does), after the start-up and before the title: the random
// generator's seed, the high score and the options are set.
void start_run_recording(unsigned seed);
// The whole program: start-up sequence, then the main loop.
[[noreturn]] int run_game(int argc, char** argv);

} // namespace kiv
