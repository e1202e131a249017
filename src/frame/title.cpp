#include "frame/title.h"

#include <cstdlib>

#include "frame/game.h"
#include "frame/startup.h"
#include "media/draw.h"
#include "media/video.h"

namespace kiv {

int title_wave, hover_start, hover_quit, menu_x, menu_y, menu_buttons;

// "Kiv" in bar pieces, from the left of the word to the right, so that the
// tremble wave runs along it. Kinds: 0 horizontal, 1 "/", 2 vertical, 3 "\".
const BarPiece logo_pieces[LOGO_PIECES] = {
    // K
    {0, 0, 0},    {2, 7, 0},    {2, 7, 28},   {2, 7, 56},   {0, 0, 77},
    {3, 14, 42},  {1, 14, 14},  {3, 27, 56},  {1, 27, 0},   {0, 45, 0},
    {0, 45, 77},
    // i
    {0, 90, 16},  {0, 83, 36},  {2, 97, 36},  {2, 97, 56},  {0, 90, 77},
    // v
    {0, 128, 36}, {3, 135, 36}, {3, 150, 56}, {1, 175, 56}, {1, 190, 36},
    {0, 205, 36}, {0, 240, 36}, {0, 260, 36}, {0, 280, 36},
};

int jitter(int n)
{
    int s = std::rand();
    int m = std::rand() % n;
    return (s & 1) ? m : -m;
}

namespace {

constexpr int WAVE_FIRST = -48;
constexpr int WAVE_LAST = 123;
constexpr int WAVE_WIDTH = 48;     // pieces under the wave tremble
constexpr int LOGO_X = 64;
constexpr int LOGO_Y = 80;

// Pointer hit regions of the buttons, inclusive; they start 23 px left of
// the button pictures.
constexpr int HIT_LEFT = 457, HIT_RIGHT = 585;
constexpr int START_TOP = 301, START_BOTTOM = 331;
constexpr int QUIT_TOP = 351, QUIT_BOTTOM = 381;

constexpr int START_X = 480, START_Y = 300;
constexpr int QUIT_X = 480, QUIT_Y = 350;

// Sums of jitter terms of size 4, drawn one after another.
int tremble(int terms)
{
    int d = 0;
    for (int i = 0; i < terms; ++i)
        d += jitter(4);
    return d;
}

// Draws a button, trembling while hovered, and reports a held left button
// over it.
int draw_button(int image, int x, int y, int hovered)
{
    if (!hovered) {
        draw_image(image, x, y);
        return 0;
    }
    int bx = x + tremble(2);
    int by = y + tremble(2);
    draw_image(image, bx, by);
    return menu_buttons & 1;
}

} // namespace

void title_update()
{
    menu_buttons = read_pointer(menu_x, menu_y);
    if (menu_x >= HIT_LEFT && menu_x <= HIT_RIGHT) {
        if (menu_y >= START_TOP && menu_y <= START_BOTTOM) {
            hover_start = 1;
            hover_quit = 0;
        } else {
            hover_start = 0;
            hover_quit = (menu_y >= QUIT_TOP && menu_y <= QUIT_BOTTOM) ? 1 : 0;
        }
    } else {
        hover_start = 0;
        hover_quit = 0;
    }
    if (title_wave + 1 > WAVE_LAST)
        title_wave = WAVE_FIRST;
    else
        title_wave = title_wave + 1;
}

void title_draw()
{
    fill_panel_rect(0, 80, 40, 92);
    fill_panel_rect(400, 80, 240, 92);

    for (int k = 0; k < LOGO_PIECES; ++k) {
        const int j = 3 * k;
        int dx = LOGO_X, dy = LOGO_Y;
        if (title_wave < j && j < title_wave + WAVE_WIDTH) {
            dx += tremble(3);
            dy += tremble(3);
        }
        draw_image(IMAGE_BAR + logo_pieces[k].kind, logo_pieces[k].x + dx,
                   logo_pieces[k].y + dy);
    }

    fill_panel_rect(450, 282, 190, 120);
    // A click on Start begins the game at once; the rest of this frame is
    // still drawn as the title.
    if (draw_button(IMAGE_START, START_X, START_Y, hover_start))
        new_game();
    if (draw_button(IMAGE_QUIT, QUIT_X, QUIT_Y, hover_quit))
        quit_game();

    draw_image(IMAGE_HISCORE, 20, 360);
    draw_number(high_score, 10, 410);
    if (shown_score > 0)
        draw_number(shown_score, 0, 0);
    draw_image(IMAGE_CURSOR, menu_x, menu_y);
}

} // namespace kiv
