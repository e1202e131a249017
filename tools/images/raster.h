// A small anti-aliased rasteriser for the picture generator. Shapes are
// signed distance functions (negative inside), painted with a colour function
// onto a supersampled canvas; a finished canvas is reduced to the game's
// palette colours plus one transparent key colour and written as an 8-bit
// paletted PNG.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "media/palette.h"

namespace kiv {

struct Colour {
    float r, g, b;   // 0..255
};

// Signed distance in pixels at a point; negative inside the shape.
using Shape = std::function<float(float x, float y)>;
// Colour of the paint at a point.
using Paint = std::function<Colour(float x, float y)>;

constexpr int SUPERSAMPLE = 4;

struct Canvas {
    int w = 0, h = 0;
    std::vector<float> r, g, b, a;   // premultiplied, SUPERSAMPLE^2 samples per pixel
};

// Colour of a ramp at a fractional shade (0 white .. 15 darkest), the
// straight line on which the palette's shades lie.
Colour ramp_at(int ramp, float shade);
Colour to_colour(Rgb c);
Colour mix(Colour a, Colour b, float t);

void make_canvas(Canvas& c, int w, int h);
// Paints the inside of a shape, over what is there, with the given opacity.
void fill(Canvas& c, const Shape& shape, const Paint& paint, float opacity = 1.0f);
void fill(Canvas& c, const Shape& shape, Colour colour, float opacity = 1.0f);
// Removes paint inside a shape (cuts holes).
void erase(Canvas& c, const Shape& shape);

// Shapes.
Shape circle(float cx, float cy, float radius);
Shape ellipse(float cx, float cy, float rx, float ry);
Shape box(float x0, float y0, float x1, float y1, float corner = 0.0f);
// Round-capped thick line through the points.
Shape stroke(std::vector<float> points, float half_width);
// Filled polygon with the given corners (x, y pairs).
Shape polygon(std::vector<float> points);
Shape unite(Shape a, Shape b);
Shape intersect(Shape a, Shape b);
Shape subtract(Shape a, Shape b);
// Grows (positive) or shrinks (negative) a shape by a distance.
Shape grow(Shape s, float by);
Shape shift(Shape s, float dx, float dy);

// Points along an elliptic arc, angles in degrees, 0 = right, 90 = down.
void arc(std::vector<float>& out, float cx, float cy, float rx, float ry,
         float from_deg, float to_deg, int steps = 24);

// The finished picture: palette indices and the palette (entry 0 = key).
struct Picture {
    int w = 0, h = 0;
    std::vector<unsigned char> pixels;
    std::vector<Rgb> palette;
};

// The colours a picture may use: whole ramps and single 3-3-2 cube entries.
struct Colours {
    std::vector<int> ramps;
    std::vector<int> cube_entries;
};

// Reduces a canvas: a pixel whose coverage is below the threshold becomes
// the key colour; any other pixel is seen over white and takes the nearest
// allowed palette colour.
void reduce(const Canvas& c, const Colours& allowed, Rgb key, Picture& out,
            float threshold = 0.35f);

// Writes an 8-bit paletted PNG without transparency chunk or timestamps.
bool write_paletted_png(const std::string& path, const Picture& p);
// Writes a true-colour PNG with alpha from the canvas coverage (icons).
bool write_rgba_png(const std::string& path, const Canvas& c);

} // namespace kiv
