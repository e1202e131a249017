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

// The application icon (three balls in the pan), `size` pixels wide, its
// corner at (x0, y0).
void draw_icon(Canvas& c, float size, float x0 = 0.0f, float y0 = 0.0f);
// The icon for launchers that cut it to their own shape (a circle, a
// rounded square): a full background, the picture inside the safe zone.
void draw_maskable_icon(Canvas& c, int size);

} // namespace kiv
