// The game's 8-bit palette: 13 ramps of 16 shades from white to the ramp's
// base colour. Shared by the game and by the picture generator, so that the
// pictures are drawn in exactly the colours the screen has.
#pragma once

namespace kiv {

struct Rgb {
    unsigned char r, g, b;
};

constexpr int RAMP_COUNT = 13;
constexpr int RAMP_SHADES = 16;
constexpr int RAMP_ENTRIES = RAMP_COUNT * RAMP_SHADES;   // 208

constexpr Rgb ramp_bases[RAMP_COUNT] = {
    {0, 0, 0},     {255, 0, 0},   {0, 255, 0},   {0, 0, 255},   {255, 255, 0},
    {0, 255, 255}, {255, 0, 255}, {255, 127, 0}, {255, 0, 127}, {127, 255, 0},
    {0, 255, 127}, {127, 0, 255}, {0, 127, 255},
};

enum Ramp {
    RAMP_GREY = 0, RAMP_RED, RAMP_GREEN, RAMP_BLUE, RAMP_YELLOW, RAMP_CYAN, RAMP_MAGENTA,
    RAMP_ORANGE, RAMP_ROSE, RAMP_LIME, RAMP_SPRING, RAMP_VIOLET, RAMP_AZURE,
};

// Shade 0 is white; each shade darkens by floor((255 - base) / 16).
constexpr unsigned char ramp_component(int base, int shade)
{
    return static_cast<unsigned char>(255 - shade * ((255 - base) / 16));
}

constexpr Rgb ramp_colour(int ramp, int shade)
{
    return Rgb{ramp_component(ramp_bases[ramp].r, shade),
               ramp_component(ramp_bases[ramp].g, shade),
               ramp_component(ramp_bases[ramp].b, shade)};
}

// Entries 208..255 keep the 3-3-2 colour cube that SDL gives every 8-bit mode.
constexpr Rgb cube_colour(int entry)
{
    int r = entry & 0xe0;
    int g = (entry << 3) & 0xe0;
    int b = entry & 0x03;
    return Rgb{static_cast<unsigned char>(r | (r >> 3) | (r >> 6)),
               static_cast<unsigned char>(g | (g >> 3) | (g >> 6)),
               static_cast<unsigned char>(b | (b << 2) | (b << 4) | (b << 6))};
}

// The transparent colours: pure blue for every picture, pure red for the
// three blue balls.
constexpr Rgb KEY_BLUE{0, 0, 255};
constexpr Rgb KEY_RED{255, 0, 0};

} // namespace kiv
