// The desktop's screen: an SDL surface, its palette and the pictures
// converted to its format.
#pragma once

#include <SDL.h>

#include "media/catalogue.h"

namespace kiv {

extern SDL_Surface* screen;
extern SDL_Rect screen_rect;
extern SDL_Rect panel_rect;
extern Uint32 panel_colour;
extern SDL_Surface* images[IMAGE_COUNT];

// Set once the connection to the display is lost: from then on nothing more
// is asked of SDL's video, and the program ends without SDL_Quit.
extern bool display_lost;
// Set once the main loop runs: the game has started, its high score read.
extern bool in_main_loop;

// Sets palette entries 0..207 to the ramps, in one SDL_SetColors call.
void set_ramp_palette(SDL_Surface* surface);
// Sets palette entry 0, the colour that loading turns transparent.
void set_key_colour(SDL_Surface* surface, Uint8 r, Uint8 g, Uint8 b);
// Loads images/<file> converted to the surface's format with colour key 0;
// null when the file cannot be loaded.
SDL_Surface* load_image(SDL_Surface* surface, const char* file);

} // namespace kiv
