// The game's 48 pictures, in catalogue order, and the application icons.
#pragma once

#include "raster.h"

namespace kiv {

struct Art {
    const char* file;
    int w, h;
    Colours colours;
    bool red_key;   // the three blue balls are keyed on pure red
    std::function<void(Canvas&)> draw;
};

constexpr int ART_COUNT = 48;

// Fills the catalogue (file names in the game's loading order).
void make_catalogue(std::vector<Art>& out);

// Draws the icon (three balls in the pan) on a size x size canvas.
void draw_icon(Canvas& c, int size);

} // namespace kiv
