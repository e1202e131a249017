// kiv-board: the online board's server, its lone verifier, and the
// operator's commands.
//
//   kiv-board [serve] [options]     serves the API and the web build, and verifies
//   kiv-board worker [options]      verifies queued games, without HTTP
//   kiv-board list [--limit N]      the newest games on the board
//   kiv-board remove ID             takes a game off the board
//   kiv-board queue                 the games waiting for a verdict, and the verifiers
//   kiv-board names                 the names held
//   kiv-board release NAME          frees a name (its games stay under it as text)
//   kiv-board rename OLD NEW        renames a name and its games
//   kiv-board pair NAME             a pairing code that hands NAME to a browser
//
// The board is the SQLite file board.sqlite in --data DIR (default
// board-data), or the PostgreSQL database of --database URL (or of the
// environment's KIV_BOARD_DATABASE, which keeps a password out of the
// process list).
#pragma once

namespace kiv::board {

// Runs the command line; returns the exit status.
int board_main(int argc, char** argv);

} // namespace kiv::board
