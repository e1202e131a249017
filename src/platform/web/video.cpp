// The web build's video: the pictures decoded by stb_image into the game's
// screen, and the screen shown in the page's canvas through the palette.
#include <emscripten.h>

#include <cstdint>
#include <cstdlib>

#include "frame/game.h"
#include "media/draw.h"
#include "media/input.h"
#include "media/screen.h"

extern "C" {
unsigned char* stbi_load(const char* path, int* w, int* h, int* channels, int wanted);
}

namespace kiv {

namespace {

std::uint32_t canvas_colour[256];   // RGBA as the canvas takes it, byte order r, g, b, a
std::uint32_t canvas_pixels[SCREEN_H * SCREEN_W];

unsigned char* read_png(const char* path, int* w, int* h)
{
    int channels = 0;
    return stbi_load(path, w, h, &channels, 3);
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

EM_JS(void, show_canvas_pixels, (const void* rgba, int w, int h), {
    var canvas = Module["canvas"];
    if (!canvas)
        return;
    var context = canvas.getContext("2d");
    var bytes = new Uint8ClampedArray(HEAPU8.buffer, rgba, w * h * 4);
    context.putImageData(new ImageData(bytes, w, h), 0, 0);
});

EM_JS(void, show_system_cursor, (), {
    if (Module["canvas"])
        Module["canvas"].style.cursor = "auto";
});

EM_JS(int, system_pointer, (int axis), {
    return Module["kivPointer"] ? Module["kivPointer"][axis] : 0;
});

// The canvas shows the newest frame at the next animation frame.
EM_JS(void, request_show, (), {
    if (Module["kivShowRequested"])
        return;
    Module["kivShowRequested"] = true;
    requestAnimationFrame(function() {
        Module["kivShowRequested"] = false;
        if (!Module["kivStopped"])
            _web_show();
    });
});

void show_frame()
{
    request_show();
}

} // namespace

void init_video(int)
{
    std::atexit(store_high_score_file);
    load_pictures(read_png);
    for (int i = 0; i < 256; i++) {
        const Rgb& c = screen_palette[i];
        canvas_colour[i] = 0xff000000u | (std::uint32_t)c.b << 16 | (std::uint32_t)c.g << 8 | c.r;
    }
    reset_pointer();
    video_ready = 1;
}

void init_offscreen_video()
{
    init_video(0);
}

void (*present_screen)() = show_frame;

void show_cursor()
{
    show_system_cursor();
}

// The page is the game's window: the pointer returns to where the mouse
// last was over the canvas.
void read_system_pointer(int* x, int* y)
{
    *x = system_pointer(0);
    *y = system_pointer(1);
}

} // namespace kiv

// Shows the screen in the canvas, through the palette.
extern "C" EMSCRIPTEN_KEEPALIVE void web_show()
{
    using namespace kiv;
    const unsigned char* p = &screen[0][0];
    for (int i = 0; i < SCREEN_W * SCREEN_H; i++)
        canvas_pixels[i] = canvas_colour[p[i]];
    show_canvas_pixels(canvas_pixels, SCREEN_W, SCREEN_H);
}
