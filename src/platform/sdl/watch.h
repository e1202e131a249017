// kiv-watch: a replay played in a window, with the game's own code, sound
// and pictures.
#pragma once

namespace kiv {

// kiv-watch [-nosound] FILE. The replay is verified first: a bad one is
// refused with the verifier's line and status 1 before a window opens.
// Space pauses, 1, 2 and 3 choose 1, 4 and 16 times its speed, N skips to
// the next game's Start, Escape or closing the window stops. Status 0 once
// watched, 2 for a wrong command line.
int watch_replay(int argc, char** argv);

} // namespace kiv
