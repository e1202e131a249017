// The desktop's window: it shows the game's screen through the palette.
#pragma once

struct SDL_Window;

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

// The game's window; null when there is none, or no longer a display.
SDL_Window* game_window();
// The place (wx, wy) of the window on the game's 640 x 480 picture as the
// window shows it now (centred in a larger window, scaled full screen),
// kept on the picture.
void window_to_picture(int wx, int wy, int* x, int* y);
// Where the system mouse is over the window, asked of the display itself
// (SDL knows only what its events have told it); false when it cannot say.
bool ask_display_for_mouse(int* wx, int* wy);

// Reads a PNG file as 8-bit RGB (the desktop's reader for load_pictures).
unsigned char* read_png(const char* path, int* w, int* h);

} // namespace kiv
