#include "frame/title.h"

#include <cstdlib>

#include "frame/game.h"
#include "frame/startup.h"
#include "media/draw.h"
#include "media/catalogue.h"

namespace kiv {

int title_wave, hover_start, hover_quit, menu_x, menu_y, menu_buttons;

// "Kiv" in bar pieces, from the left of the word to the right, so that the
// tremble wave runs along it. Kinds: 0 horizontal, 1 "/", 2 vertical, 3 "\".
// Strokes join where the rounded ends of the pieces meet: a vertical piece
// continues 19..21 px below the last, a diagonal one 17..18 px across and
// 19..21 px down. The letters stand 87 px tall from the top of the strips,
// and the word sits in the middle of the gap between them.
const BarPiece logo_pieces[LOGO_PIECES] = {
    // K: slab serifs, a stem of four, arm and leg leaving the stem half way
    // up, with serifs at their ends
    {0, 32, 0}, {0, 32, 80},
    {2, 38, 0}, {2, 38, 19}, {2, 38, 40}, {2, 38, 59},
    {1, 38, 21}, {3, 38, 40}, {1, 56, 0}, {3, 56, 59},
    {0, 68, 0}, {0, 68, 80},
    // i: the dot, a stem of three, the foot
    {0, 112, 2}, {2, 118, 21}, {2, 118, 40}, {2, 118, 59}, {0, 112, 80},
    // v: serif, three pieces down, three pieces up, serif
    {0, 156, 21}, {3, 162, 21}, {3, 179, 40}, {3, 196, 59},
    {1, 214, 59}, {1, 231, 40}, {1, 248, 21}, {0, 260, 21},
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
