// The game's lettering: a stroke font of the digits and the capitals the
// pictures need. Each glyph is a set of centre lines in a unit box (x right,
// y down); text is drawn as round-capped strokes along them.
#pragma once

#include "raster.h"

namespace kiv {

// Width of a glyph relative to the height of its box (a space is narrow).
float glyph_width(char c);

// The ink of one glyph whose centre lines fill the box (x, y, w, h).
Shape glyph_shape(char c, float x, float y, float w, float h, float half_width);

// The ink of a line of text: glyph boxes of height h, each glyph_width(c) x
// letter_w wide, separated by gap; returns the ink and stores the width
// covered by the centre lines in *width.
Shape text_shape(const char* text, float x, float y, float letter_w, float h, float gap,
                 float half_width, float* width);

} // namespace kiv
