// The screen, its palette and the catalogue of pictures.
#pragma once

#include <SDL.h>

namespace kiv {

constexpr int SCREEN_W = 640;
constexpr int SCREEN_H = 480;

constexpr int IMAGE_COUNT = 48;
// Catalogue indices; other indices are computed from these.
constexpr int IMAGE_BALL = 0;       // (2 - colour) * 3 + size
constexpr int IMAGE_DIGIT = 9;      // + digit
constexpr int IMAGE_TIMES = 19;     // xs.png
constexpr int IMAGE_PIP = 20;       // + size 0..7
constexpr int IMAGE_APPEAR = 28;    // + phase / 4
constexpr int IMAGE_PAN_H = 32;
constexpr int IMAGE_PAN_V = 33;
constexpr int IMAGE_EVENT = 34;     // + kind
constexpr int IMAGE_BAR = 40;       // + piece kind
constexpr int IMAGE_START = 44;
constexpr int IMAGE_QUIT = 45;
constexpr int IMAGE_HISCORE = 46;
constexpr int IMAGE_CURSOR = 47;
constexpr int BLUE_BALL_IMAGES = 3;   // catalogue 0..2 use red as the transparent colour

extern const char* const image_files[IMAGE_COUNT];

extern SDL_Surface* screen;
extern SDL_Rect screen_rect;
extern SDL_Rect panel_rect;
extern Uint32 panel_colour;
extern SDL_Surface* images[IMAGE_COUNT];

// Opens video, the 640 x 480 8-bit screen (full screen unless windowed), the
// palette, loads all pictures and hides the system cursor. Prints one line
// and exits with status 1 on failure.
void init_video(int windowed);

// Sets palette entries 0..207 to the ramps (one SDL_SetColors call each).
void set_ramp_palette(SDL_Surface* surface);
// Sets palette entry 0, the colour that loading turns transparent.
void set_key_colour(SDL_Surface* surface, Uint8 r, Uint8 g, Uint8 b);
// Loads images/<file> converted to the surface's format with colour key 0;
// null when the file cannot be loaded.
SDL_Surface* load_image(SDL_Surface* surface, const char* file);

} // namespace kiv
