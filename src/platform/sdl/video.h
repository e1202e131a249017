// The desktop's window: it shows the game's screen through the palette.
#pragma once

namespace kiv {

// Set once the connection to the display is lost: from then on nothing more
// is asked of SDL's video, and the program ends without SDL_Quit.
extern bool display_lost;
// Set once the main loop runs: the game has started, its high score read.
extern bool in_main_loop;

// Opens a 640 x 480 window that shows the screen with the system cursor
// visible over it, for watching a replay; the same failures as init_video.
void init_watch_video();
// Sets the window's caption.
void set_window_caption(const char* caption);

// Reads a PNG file as 8-bit RGB (the desktop's reader for load_pictures).
unsigned char* read_png(const char* path, int* w, int* h);

} // namespace kiv
