// The web build's screen: 640 x 480 bytes of palette indices in memory,
// drawn by the game's own blits and fills and shown by converting them
// through the palette into the page's canvas.
#pragma once

#include <cstdint>

#include "media/catalogue.h"

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
extern std::uint32_t palette[256];   // RGBA as the canvas takes it, byte order r, g, b, a
extern Rect screen_rect;
extern Rect panel_rect;
extern unsigned char panel_colour;

// The palette entry nearest to (r, g, b); the first of equally near ones.
unsigned char nearest_entry(int r, int g, int b);

} // namespace kiv
