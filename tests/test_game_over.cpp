// The game-over screen: how long it lasts, the way back to the title, and
// the caption flying in and resting.
#include <gtest/gtest.h>

#include "frame/game.h"
#include "frame/game_over.h"
#include "frame/title.h"
#include "media/draw.h"
#include "media/input.h"
#include "media/video.h"
#include "sim/balls.h"
#include "test_screen.h"

using namespace kiv;
using kiv_test::RandTape;

namespace {

void enter_screen()
{
    sound_off = 1;
    windowed = 0;   // entering the title then puts the pointer at (320, 240)
    mouse_speed = 1.0f;
    step_input = {0, 0, 0};
    pointer_x = 17;
    pointer_y = 23;
    title_wave = 55;
    hover_start = 1;
    hover_quit = 1;
    enter_game_over();
}

void step(int dx = 0, int dy = 0, int buttons = 0)
{
    step_input = {dx, dy, buttons};
    game_over_update();
}

void expect_back_on_title()
{
    EXPECT_EQ(game_state, STATE_TITLE);
    EXPECT_EQ(title_wave, -48);
    EXPECT_EQ(hover_start, 0);
    EXPECT_EQ(hover_quit, 0);
    EXPECT_EQ(pointer_x, 320);
    EXPECT_EQ(pointer_y, 240);
    for (const Ball& b : balls)
        ASSERT_EQ(b.colour, -1);
}

void put_a_ball()
{
    balls[5].colour = 1;
    balls[5].size = 2;
    balls[5].image = 5;
}

} // namespace

TEST(GameOverUpdate, EndsByItselfInStep361)
{
    enter_screen();
    put_a_ball();
    for (int i = 1; i <= 360; ++i) {
        step();
        ASSERT_EQ(game_state, STATE_GAME_OVER) << "step " << i;
        ASSERT_EQ(game_over_timer, i);
    }
    EXPECT_EQ(balls[5].colour, 1);   // nothing cleared yet
    step();
    EXPECT_EQ(game_over_timer, 361);
    expect_back_on_title();
}

TEST(GameOverUpdate, LeftButtonEndsItInTheFirstStep)
{
    enter_screen();
    put_a_ball();
    step(0, 0, 1);
    EXPECT_EQ(game_over_timer, 1);
    expect_back_on_title();

    // Later on, with the pointer moving; other buttons do not count.
    enter_screen();
    for (int i = 0; i < 100; ++i)
        step(3, -2, 4);
    EXPECT_EQ(game_state, STATE_GAME_OVER);
    EXPECT_EQ(menu_x, 317);
    EXPECT_EQ(menu_y, 0);
    EXPECT_EQ(menu_buttons, 4);
    step(0, 0, 1 | 2);
    EXPECT_EQ(game_over_timer, 101);
    expect_back_on_title();
}

namespace {

struct Place {
    int x, y;
};

// Where piece k is drawn at time t before its jitter: on the straight line
// from the bottom centre to its resting place, which it reaches at t = 30.
Place caption_place(int k, int t)
{
    const BarPiece& p = caption_pieces[k];
    if (t >= 30)
        return {p.x + 112, p.y + 150};
    const int run_x = 208 - p.x;   // rest x = 320 - run_x
    const int run_y = 330 - p.y;
    return {320 - run_x * t / 30, 480 - run_y * t / 30};
}

void expect_caption_frame(int t, unsigned seed)
{
    game_over_timer = t;
    RandTape tape(seed);
    clear_screen();
    game_over_draw();
    const int taken = tape.draws_taken();
    auto actual = kiv_test::grab_screen();

    clear_screen();
    draw_number(shown_score, 0, 0);
    for (int k = 0; k < CAPTION_PIECES; ++k) {
        Place at = caption_place(k, t);
        const int terms = t < 30 ? 3 : 1;
        const int size = t < 30 ? 4 : 2;
        for (int i = 0; i < terms; ++i)
            at.x += tape.jitter(size);
        for (int i = 0; i < terms; ++i)
            at.y += tape.jitter(size);
        draw_image(IMAGE_BAR + caption_pieces[k].kind, at.x, at.y);
    }
    auto expected = kiv_test::grab_screen();

    EXPECT_EQ(taken, tape.position()) << "t = " << t;
    EXPECT_TRUE(kiv_test::same_pixels(actual, expected)) << "t = " << t;
}

} // namespace

TEST(GameOverCaption, FramesInFlightAndAtRestMatchTheirPositions)
{
    kiv_test::open_screen();
    shown_score = 123456;
    unsigned seed = 500;
    for (int t : {0, 1, 15, 29, 30, 31, 200, 361})
        expect_caption_frame(t, seed++);
}

TEST(GameOverCaption, TableHoldsTheCaptionAndRestsOnScreen)
{
    // Checksums taken from the caption's design table: a mistyped kind,
    // offset or two swapped rows change them.
    long sum_x = 0, sum_y = 0, weighted = 0;
    int kinds[4] = {};
    for (int k = 0; k < CAPTION_PIECES; ++k) {
        const BarPiece& p = caption_pieces[k];
        ASSERT_GE(p.kind, 0);
        ASSERT_LE(p.kind, 3);
        ++kinds[p.kind];
        sum_x += p.x;
        sum_y += p.y;
        weighted += (k + 1L) * (7L * p.x + 3L * p.y + p.kind);
        // "GAME" above, "OVER" below, and at rest everything on the screen.
        EXPECT_TRUE(p.y <= 48 || p.y >= 80) << "piece " << k;
        EXPECT_LE(p.x + 112 + 25, SCREEN_W) << "piece " << k;
        EXPECT_LE(p.y + 150 + 28, SCREEN_H) << "piece " << k;
    }
    EXPECT_EQ(sum_x, 9033);
    EXPECT_EQ(sum_y, 2418);
    EXPECT_EQ(weighted, 2117530);
    EXPECT_EQ(kinds[0], 16);
    EXPECT_EQ(kinds[1], 6);
    EXPECT_EQ(kinds[2], 16);
    EXPECT_EQ(kinds[3], 7);
}
