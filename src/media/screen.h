// The game's screen, the same in every build: 640 x 480 bytes of palette
// indices in memory, drawn by colour-keyed blits of the pictures and by
// fills, clipped at its edges with rectangles of 16-bit fields as SDL's own
// were. A platform only shows it through the palette.
#pragma once

#include <cstdint>

#include "media/catalogue.h"
#include "media/palette.h"

namespace kiv {

struct Picture {
    int w, h;
    unsigned char* pixels;   // palette indices, w * h
    unsigned char* opaque;   // 1 where the picture is drawn, 0 where keyed out
};

struct Rect {
    int x, y, w, h;
};

extern unsigned char screen[SCREEN_H][SCREEN_W];
extern Picture images[IMAGE_COUNT];
extern Rgb screen_palette[256];   // the colour of every pixel value
extern Rect screen_rect;
extern Rect panel_rect;
extern unsigned char panel_colour;

// 1 while frames are drawn into the screen, from the loading of the
// pictures on: the platform that verifies replays never loads them and
// spends nothing on pixels, and a watched replay skipping frames unseen
// turns it off for them. The drawing code runs all the same (it takes
// random numbers).
extern int drawing_on;

// Reads a picture file as 8-bit RGB, three bytes a pixel, row after row, in
// memory from malloc; null when the file cannot be read as a picture.
using PictureReader = unsigned char* (*)(const char* path, int* w, int* h);

// Sets the palette and loads the catalogue from images/ with the platform's
// reader, as the 8-bit screen of SDL did: every colour takes its nearest
// palette entry, what lands on entry 0 (red for the blue balls while they
// load, blue for the rest) is transparent, and entry 0 ends up white. A
// picture that cannot be read ends the program: "Unable to load: <path>".
void load_pictures(PictureReader read);

// The palette entry nearest to (r, g, b); the first of equally near ones.
unsigned char nearest_entry(int r, int g, int b);

} // namespace kiv
