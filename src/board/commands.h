// kiv-board: the online board's server, and its moderation commands.
//
//   kiv-board [serve] [options]     serves the API and the web build
//   kiv-board list [--limit N]      the newest games on the board
//   kiv-board remove ID             takes a game off the board
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
