// Numbers drawn from digit pictures and pips, and the game pointer; the
// blits and fills are the screen's (screen.cpp).
#include "media/draw.h"

#include "frame/game.h"
#include "media/catalogue.h"
#include "media/input.h"

namespace kiv {

int pointer_x;
int pointer_y;

// Digits are 50 pixels apart; a lone zero advances 52.
constexpr int DIGIT_ADVANCE = 50;
constexpr int LONE_ZERO_ADVANCE = 52;
constexpr int LARGEST_NUMBER = 999999999;

int draw_number(int value, int x, int y)
{
    // Only a hand-edited kiv.prf can hold more than nine digits; show the
    // largest number instead of an index past the digit pictures.
    if (value > LARGEST_NUMBER)
        value = LARGEST_NUMBER;
    if (value < 0)
        value = 0;
    bool started = false;
    for (int divisor = 100000000; divisor > 0; divisor /= 10) {
        int d = value / divisor;
        if (d > 0 || started) {
            draw_image(IMAGE_DIGIT + d, x, y);
            value = value - d * divisor;
            x = x + DIGIT_ADVANCE;
            started = true;
        }
    }
    if (started)
        return x;
    draw_image(IMAGE_DIGIT, x, y);
    return x + LONE_ZERO_ADVANCE;
}

int draw_pips(int value, int x, int y, int k)
{
    bool started = false;
    for (int divisor = 1000000; divisor > 0; divisor /= 10) {
        int d = value / divisor;
        if (d > 0 || started) {
            draw_image(IMAGE_PIP + k, x, y);
            value = value - d * divisor;
            x = x + 6 * k;
            started = true;
        }
    }
    return x;
}

void flip_screen()
{
    present_screen();
}

void reset_pointer()
{
    if (windowed) {
        pointer_source(&pointer_x, &pointer_y);
    } else {
        pointer_x = SCREEN_W / 2;
        pointer_y = SCREEN_H / 2;
    }
}

// Truncates toward zero and keeps the result on the screen. The float is
// bounded first so that no motion, however large, converts out of range.
static int to_screen(float v, int size)
{
    if (v < -1.0f)
        v = -1.0f;
    if (v > static_cast<float>(size))
        v = static_cast<float>(size);
    int p = static_cast<int>(v);
    return p < 0 ? 0 : (p > size - 1 ? size - 1 : p);
}

int pointer_moved(int from, int motion, int size)
{
    return to_screen(static_cast<float>(motion) * mouse_speed + static_cast<float>(from), size);
}

int read_pointer(int& x, int& y)
{
    int dx = step_input.dx;
    int dy = step_input.dy;
    step_input.dx = 0;
    step_input.dy = 0;
    pointer_x = pointer_moved(pointer_x, dx, SCREEN_W);
    pointer_y = pointer_moved(pointer_y, dy, SCREEN_H);
    x = pointer_x;
    y = pointer_y;
    return step_input.buttons;
}

} // namespace kiv
