// The web build's screen set-up: the palette and the pictures, decoded from
// the PNG files and mapped onto the palette as the desktop's SDL does it.
// Loading gives each colour the nearest palette entry; what lands on entry
// 0, the key colour of the moment (red for the blue balls, blue for the
// rest), is transparent. Drawing then maps each entry to the first one of
// its colour in the final palette, whose entry 0 is white: so the white of
// a picture is drawn as entry 0, as SDL draws it.
#include <emscripten.h>

#include <cstdio>
#include <cstdlib>

#include "frame/game.h"
#include "media/draw.h"
#include "media/palette.h"
#include "platform/web/screen.h"

extern "C" {
unsigned char* stbi_load(const char* path, int* w, int* h, int* channels, int wanted);
void stbi_image_free(void* data);
}

namespace kiv {

unsigned char screen[SCREEN_H][SCREEN_W];
Picture images[IMAGE_COUNT];
std::uint32_t palette[256];
Rect screen_rect;
Rect panel_rect;
unsigned char panel_colour;

namespace {

Rgb entries[256];
// Pictures have few colours, mostly in runs: the last answer is kept until
// the palette changes.
int last_r = -1, last_g, last_b;
unsigned char last;

void set_entry(int i, Rgb c)
{
    last_r = -1;
    entries[i] = c;
    palette[i] = 0xff000000u | (std::uint32_t)c.b << 16 | (std::uint32_t)c.g << 8 | c.r;
}

Picture load_picture(const char* file)
{
    char path[64];
    std::snprintf(path, sizeof path, "images/%s", file);
    int w = 0, h = 0, channels = 0;
    unsigned char* rgb = stbi_load(path, &w, &h, &channels, 3);
    if (!rgb) {
        std::fprintf(stderr, "Unable to load: %s\n", path);
        std::exit(1);
    }
    size_t size = static_cast<size_t>(w) * h;
    Picture p{w, h, static_cast<unsigned char*>(std::malloc(size)), static_cast<unsigned char*>(std::malloc(size))};
    for (size_t i = 0; i < size; i++) {
        p.pixels[i] = nearest_entry(rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]);
        p.opaque[i] = p.pixels[i] != 0;
    }
    stbi_image_free(rgb);
    return p;
}


// The high score lives in the browser's storage; the page puts it into
// kiv.prf before the game starts, and this takes it back at the exit.
EM_JS(void, store_high_score_file, (), {
    if (typeof localStorage === "undefined")
        return;
    try {
        var bytes = FS.readFile("kiv.prf");
        var hex = "";
        for (var i = 0; i < bytes.length; i++)
            hex += (bytes[i] + 256).toString(16).substring(1);
        localStorage.setItem("kiv.prf", hex);
    } catch (e) {
    }
});

} // namespace

unsigned char nearest_entry(int r, int g, int b)
{
    if (r == last_r && g == last_g && b == last_b)
        return last;
    int best = 0;
    long best_distance = -1;
    for (int i = 0; i < 256; i++) {
        long dr = entries[i].r - r, dg = entries[i].g - g, db = entries[i].b - b;
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

void init_video(int windowed)
{
    std::atexit(store_high_score_file);
    for (int i = 0; i < RAMP_ENTRIES; i++)
        set_entry(i, ramp_colour(i / RAMP_SHADES, i % RAMP_SHADES));
    for (int i = RAMP_ENTRIES; i < 256; i++)
        set_entry(i, cube_colour(i));
    screen_rect = Rect{0, 0, SCREEN_W, SCREEN_H};

    // The blue balls are keyed on red, everything else on blue.
    set_entry(0, KEY_RED);
    for (int k = 0; k < BLUE_BALL_IMAGES; k++)
        images[k] = load_picture(image_files[k]);
    set_entry(0, KEY_BLUE);
    for (int k = BLUE_BALL_IMAGES; k < IMAGE_COUNT; k++)
        images[k] = load_picture(image_files[k]);
    // Each entry of the palette at loading drawn as the first one of its
    // colour in the final palette.
    Rgb at_loading[256];
    for (int i = 0; i < 256; i++)
        at_loading[i] = entries[i];
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
    if (!windowed) {
        pointer_x = SCREEN_W / 2;
        pointer_y = SCREEN_H / 2;
    } else {
        reset_pointer();
    }
    video_ready = 1;
}

void init_offscreen_video()
{
    init_video(0);
}

} // namespace kiv
