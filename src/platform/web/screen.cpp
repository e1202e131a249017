// The web build's drawing primitives: colour-keyed blits and fills on the
// screen in memory, clipped at its edges as SDL clips them, and the present
// through the palette into the page's canvas.
#include <emscripten.h>

#include <cstdint>

#include "frame/game.h"
#include "media/draw.h"
#include "platform/web/screen.h"

namespace kiv {

namespace {

std::uint32_t canvas_pixels[SCREEN_H * SCREEN_W];

// SDL keeps rectangle positions in 16 bits: the same truncation here.
int to_position(int v) { return static_cast<std::int16_t>(v); }
int to_extent(int v) { return static_cast<std::uint16_t>(v); }

void fill(int x, int y, int w, int h, unsigned char colour)
{
    int x0 = x < 0 ? 0 : x, y0 = y < 0 ? 0 : y;
    int x1 = x + w > SCREEN_W ? SCREEN_W : x + w, y1 = y + h > SCREEN_H ? SCREEN_H : y + h;
    for (int row = y0; row < y1; row++)
        for (int col = x0; col < x1; col++)
            screen[row][col] = colour;
}

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

void draw_image(int k, int x, int y)
{
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

void (*present_screen)() = show_frame;

} // namespace kiv

// Shows the screen in the canvas, through the palette.
extern "C" EMSCRIPTEN_KEEPALIVE void web_show()
{
    using namespace kiv;
    const unsigned char* p = &screen[0][0];
    for (int i = 0; i < SCREEN_W * SCREEN_H; i++)
        canvas_pixels[i] = palette[p[i]];
    show_canvas_pixels(canvas_pixels, SCREEN_W, SCREEN_H);
}

namespace kiv {

void show_cursor()
{
    show_system_cursor();
}

const unsigned char* screen_pixels(int* pitch)
{
    *pitch = SCREEN_W;
    return &screen[0][0];
}

// The page is the game's window: the pointer starts where the mouse last
// was over the canvas.
void reset_pointer()
{
    if (windowed) {
        pointer_x = system_pointer(0);
        pointer_y = system_pointer(1);
    } else {
        pointer_x = SCREEN_W / 2;
        pointer_y = SCREEN_H / 2;
    }
}

} // namespace kiv
