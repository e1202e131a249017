// The pixel-free platform's screen: nothing is opened and nothing is drawn,
// while the drawing code above it still runs (and still takes its random
// numbers) exactly as on a real screen. What the verifier runs on.
#include "frame/game.h"
#include "media/catalogue.h"
#include "media/draw.h"

namespace kiv {

namespace {

// What screen_pixels shows: a screen that stays white (entry 0).
unsigned char blank[SCREEN_H * SCREEN_W];

void present_nothing() {}

} // namespace

void init_video(int)
{
    reset_pointer();
    video_ready = 1;
}

void init_offscreen_video()
{
    init_video(0);
}

void close_video() {}

void draw_image(int, int, int) {}
void fill_panel_rect(int, int, int, int) {}
void fill_side_panel() {}
void clear_screen() {}
void (*present_screen)() = present_nothing;
void show_cursor() {}

const unsigned char* screen_pixels(int* pitch)
{
    *pitch = SCREEN_W;
    return blank;
}

// There is no system mouse: the pointer starts in the middle, as it does
// full screen.
void reset_pointer()
{
    pointer_x = SCREEN_W / 2;
    pointer_y = SCREEN_H / 2;
}

} // namespace kiv
