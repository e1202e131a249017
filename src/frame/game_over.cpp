#include "frame/game_over.h"

#include "frame/game.h"
#include "media/draw.h"
#include "media/catalogue.h"

namespace kiv {

// "GAME" on the upper line, "OVER" below it, offsets from the resting origin.
const BarPiece caption_pieces[CAPTION_PIECES] = {
    {0, 24, 0},    {1, 0, 0},     {3, 0, 25},    {0, 24, 45},   {2, 42, 25},
    {0, 24, 25},   {2, 70, 25},   {1, 70, 0},    {3, 94, 0},    {2, 114, 25},
    {0, 82, 28},   {2, 140, 0},   {2, 140, 25},  {3, 145, 0},   {1, 166, 0},
    {2, 188, 0},   {2, 188, 25},  {2, 210, 0},   {2, 210, 25},  {0, 212, 0},
    {0, 231, 0},   {0, 212, 22},  {0, 212, 48},  {0, 231, 48},  {1, 160, 80},
    {3, 160, 108}, {1, 185, 108}, {3, 185, 80},  {2, 230, 80},  {3, 230, 108},
    {1, 254, 108}, {2, 264, 80},  {2, 295, 80},  {2, 295, 105}, {0, 297, 80},
    {0, 315, 80},  {0, 297, 102}, {0, 297, 128}, {0, 315, 128}, {2, 360, 80},
    {2, 360, 112}, {0, 370, 80},  {0, 370, 105}, {2, 390, 80},  {3, 375, 115},
};

namespace {

constexpr int CAPTION_X = 112;       // resting origin of the caption
constexpr int CAPTION_Y = 150;
constexpr int FLIGHT_STEPS = 30;     // steps the pieces take to fly in
constexpr int GAME_OVER_STEPS = 360; // the screen ends in the step after this

// Sum of three jitter terms of size 4, drawn one after another.
int tremble3()
{
    int d = jitter(4);
    d += jitter(4);
    d += jitter(4);
    return d;
}

} // namespace

void game_over_update()
{
    menu_buttons = read_pointer(menu_x, menu_y);
    game_over_timer = game_over_timer + 1;
    if (game_over_timer > GAME_OVER_STEPS || (menu_buttons & 1))
        go_to_title();
}

void game_over_draw()
{
    const int t = game_over_timer;
    draw_number(shown_score, 0, 0);
    for (const BarPiece& piece : caption_pieces) {
        int x, y;
        if (t < FLIGHT_STEPS) {
            // Straight from the bottom centre (320, 480) towards the resting
            // place (px + 112, py + 150), reached at t = 30.
            x = 320 - ((208 - piece.x) * t) / FLIGHT_STEPS;
            x += tremble3();
            y = 480 - ((330 - piece.y) * t) / FLIGHT_STEPS;
            y += tremble3();
        } else {
            x = piece.x + CAPTION_X;
            x += jitter(2);
            y = piece.y + CAPTION_Y;
            y += jitter(2);
        }
        draw_image(IMAGE_BAR + piece.kind, x, y);
    }
}

} // namespace kiv
