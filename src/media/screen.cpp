// The game's screen in memory: the palette, the pictures mapped onto it,
// and the blits and fills that draw every frame.
#include "media/screen.h"

#include <cstdio>
#include <cstdlib>

#include "media/draw.h"

namespace kiv {

unsigned char screen[SCREEN_H][SCREEN_W];
Picture images[IMAGE_COUNT];
Rgb screen_palette[256];
Rect screen_rect;
Rect panel_rect;
unsigned char panel_colour;
int drawing_on;

namespace {

// Pictures have few colours, mostly in runs: the last answer is kept until
// the palette changes.
int last_r = -1, last_g, last_b;
unsigned char last;

void set_entry(int i, Rgb c)
{
    last_r = -1;
    screen_palette[i] = c;
}

Picture load_picture(PictureReader read, const char* file)
{
    char path[64];
    std::snprintf(path, sizeof path, "images/%s", file);
    int w = 0, h = 0;
    unsigned char* rgb = read(path, &w, &h);
    if (!rgb || w <= 0 || h <= 0) {
        std::fprintf(stderr, "Unable to load: %s\n", path);
        std::exit(1);
    }
    size_t size = static_cast<size_t>(w) * h;
    Picture p{w, h, static_cast<unsigned char*>(std::malloc(size)), static_cast<unsigned char*>(std::malloc(size))};
    for (size_t i = 0; i < size; i++) {
        p.pixels[i] = nearest_entry(rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]);
        p.opaque[i] = p.pixels[i] != 0;
    }
    std::free(rgb);
    return p;
}

// SDL kept rectangle positions in 16 bits: the same truncation here.
int to_position(int v) { return static_cast<std::int16_t>(v); }
int to_extent(int v) { return static_cast<std::uint16_t>(v); }

void fill(int x, int y, int w, int h, unsigned char colour)
{
    if (!drawing_on)
        return;
    int x0 = x < 0 ? 0 : x, y0 = y < 0 ? 0 : y;
    int x1 = x + w > SCREEN_W ? SCREEN_W : x + w, y1 = y + h > SCREEN_H ? SCREEN_H : y + h;
    for (int row = y0; row < y1; row++)
        for (int col = x0; col < x1; col++)
            screen[row][col] = colour;
}

} // namespace

unsigned char nearest_entry(int r, int g, int b)
{
    if (r == last_r && g == last_g && b == last_b)
        return last;
    int best = 0;
    long best_distance = -1;
    for (int i = 0; i < 256; i++) {
        long dr = screen_palette[i].r - r, dg = screen_palette[i].g - g, db = screen_palette[i].b - b;
        long d = dr * dr + dg * dg + db * db;
        if (best_distance < 0 || d < best_distance) {
            best = i;
            best_distance = d;
            if (d == 0)
                break;
        }
    }
    last_r = r;
    last_g = g;
    last_b = b;
    last = static_cast<unsigned char>(best);
    return last;
}

void load_pictures(PictureReader read)
{
    for (int i = 0; i < RAMP_ENTRIES; i++)
        set_entry(i, ramp_colour(i / RAMP_SHADES, i % RAMP_SHADES));
    for (int i = RAMP_ENTRIES; i < 256; i++)
        set_entry(i, cube_colour(i));
    screen_rect = Rect{0, 0, SCREEN_W, SCREEN_H};

    // The blue balls are keyed on red, everything else on blue.
    set_entry(0, KEY_RED);
    for (int k = 0; k < BLUE_BALL_IMAGES; k++)
        images[k] = load_picture(read, image_files[k]);
    set_entry(0, KEY_BLUE);
    for (int k = BLUE_BALL_IMAGES; k < IMAGE_COUNT; k++)
        images[k] = load_picture(read, image_files[k]);
    // Each entry of the palette at loading is drawn as the first one of its
    // colour in the final palette, whose entry 0 is white: so the white of a
    // picture is drawn as entry 0, as SDL drew it.
    Rgb at_loading[256];
    for (int i = 0; i < 256; i++)
        at_loading[i] = screen_palette[i];
    set_entry(0, Rgb{255, 255, 255});
    unsigned char drawn_as[256];
    for (int i = 0; i < 256; i++)
        drawn_as[i] = nearest_entry(at_loading[i].r, at_loading[i].g, at_loading[i].b);
    for (Picture& p : images)
        for (int i = 0; i < p.w * p.h; i++)
            p.pixels[i] = drawn_as[p.pixels[i]];

    // The side panel is 64 wide; the screen clips it to its last 45 columns.
    panel_rect = Rect{595, 0, 64, SCREEN_H};
    panel_colour = nearest_entry(240, 240, 128);
    drawing_on = 1;
}

void draw_image(int k, int x, int y)
{
    if (!drawing_on)
        return;
    const Picture& pic = images[k];
    x = to_position(x);
    y = to_position(y);
    int c0 = x < 0 ? -x : 0, r0 = y < 0 ? -y : 0;
    int c1 = x + pic.w > SCREEN_W ? SCREEN_W - x : pic.w;
    int r1 = y + pic.h > SCREEN_H ? SCREEN_H - y : pic.h;
    for (int r = r0; r < r1; r++) {
        const unsigned char* src = pic.pixels + r * pic.w;
        const unsigned char* opaque = pic.opaque + r * pic.w;
        unsigned char* row = screen[y + r];
        for (int c = c0; c < c1; c++)
            if (opaque[c])
                row[x + c] = src[c];
    }
}

void fill_panel_rect(int x, int y, int w, int h)
{
    fill(to_position(x), to_position(y), to_extent(w), to_extent(h), panel_colour);
}

void fill_side_panel()
{
    fill(panel_rect.x, panel_rect.y, panel_rect.w, panel_rect.h, panel_colour);
}

void clear_screen()
{
    fill(screen_rect.x, screen_rect.y, screen_rect.w, screen_rect.h, 0);
}

const unsigned char* screen_pixels(int* pitch)
{
    *pitch = SCREEN_W;
    return &screen[0][0];
}

} // namespace kiv
