// The pixel-free platform's screen: nothing is opened and no picture is
// loaded, so the screen in memory is never drawn (it stays white), while the
// drawing code above it still runs (and still takes its random numbers)
// exactly as on a real screen. What the verifier runs on.
#include "media/catalogue.h"
#include "media/draw.h"
#include "media/input.h"

namespace kiv {

namespace {

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

void (*present_screen)() = present_nothing;
void show_cursor() {}

// There is no system mouse: the pointer returns to the middle, as it does
// full screen.
void read_system_pointer(int* x, int* y)
{
    *x = SCREEN_W / 2;
    *y = SCREEN_H / 2;
}

} // namespace kiv
