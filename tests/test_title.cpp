// The title screen: hover regions, the tremble wave, the frame as drawn, and
// the two buttons.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "frame/game.h"
#include "frame/title.h"
#include "media/draw.h"
#include "media/input.h"
#include "media/video.h"
#include "test_screen.h"

using namespace kiv;
using kiv_test::RandTape;

namespace {

void reset_title_state()
{
    mouse_speed = 1.0f;
    step_input = {0, 0, 0};
    title_wave = -48;
    hover_start = hover_quit = 0;
    menu_x = menu_y = menu_buttons = 0;
    game_state = STATE_TITLE;
}

// One title step with the pointer placed at (x, y) beforehand.
void step_at(int x, int y, int buttons = 0)
{
    pointer_x = x;
    pointer_y = y;
    step_input = {0, 0, buttons};
    title_update();
}

// Pieces under the wave at a given wave position: piece k trembles while
// the wave is between 3k - 47 and 3k - 1.
int trembling_pieces(int wave)
{
    int n = 0;
    for (int k = 0; k < LOGO_PIECES; ++k)
        if (3 * k - 47 <= wave && wave <= 3 * k - 1)
            ++n;
    return n;
}

} // namespace

TEST(Jitter, SignDrawThenSizeDrawOddMeansPlus)
{
    int plus = 0, minus = 0;
    for (unsigned seed = 1; seed <= 40; ++seed) {
        std::srand(seed);
        const int s = std::rand(), m = std::rand() % 4, after = std::rand();
        std::srand(seed);
        const int j = jitter(4);
        EXPECT_EQ(j, (s % 2 == 1) ? m : -m) << "seed " << seed;
        EXPECT_EQ(std::rand(), after) << "a term takes exactly two draws";
        (j > 0 ? plus : minus) += (j != 0);
    }
    EXPECT_GT(plus, 0);
    EXPECT_GT(minus, 0);
}

TEST(TitleHover, RegionsAreInclusiveAndStartBeginsLeftOfThePicture)
{
    reset_title_state();
    struct Case {
        int x, y, start, quit;
    } cases[] = {
        {457, 301, 1, 0}, {585, 331, 1, 0}, {520, 316, 1, 0},   // Start corners
        {457, 351, 0, 1}, {585, 381, 0, 1}, {520, 366, 0, 1},   // Quit corners
        {456, 316, 0, 0}, {586, 316, 0, 0},                     // left and right of Start
        {456, 366, 0, 0}, {586, 366, 0, 0},                     // left and right of Quit
        {520, 300, 0, 0}, {520, 332, 0, 0}, {520, 340, 0, 0},   // above, between
        {520, 350, 0, 0}, {520, 382, 0, 0},                     // between, below
        {470, 305, 1, 0},   // left of the Start picture, still inside the region
        {320, 240, 0, 0}, {0, 0, 0, 0}, {639, 479, 0, 0},
    };
    for (const Case& c : cases) {
        // Start from the opposite flags so that stale values would show.
        hover_start = !c.start;
        hover_quit = !c.quit;
        step_at(c.x, c.y);
        EXPECT_EQ(hover_start, c.start) << c.x << "," << c.y;
        EXPECT_EQ(hover_quit, c.quit) << c.x << "," << c.y;
        EXPECT_EQ(menu_x, c.x);
        EXPECT_EQ(menu_y, c.y);
    }
}

TEST(TitleWave, CyclesThrough172ValuesOnePerStep)
{
    reset_title_state();
    std::vector<int> seen;
    for (int i = 0; i < 2 * 172; ++i) {
        step_at(100, 100);
        seen.push_back(title_wave);
    }
    for (int i = 0; i < 172; ++i) {
        int expected = (i < 171) ? -47 + i : -48;
        ASSERT_EQ(seen[i], expected) << "step " << i;
        ASSERT_EQ(seen[i + 172], expected) << "second cycle, step " << i;
    }
}

TEST(TitleWave, SweepsFirstPieceToLastThenRests)
{
    // A few positions worked out by hand from the sweep.
    EXPECT_EQ(trembling_pieces(-48), 0);
    EXPECT_EQ(trembling_pieces(-47), 1);
    EXPECT_EQ(trembling_pieces(-1), 16);
    EXPECT_EQ(trembling_pieces(0), 15);
    EXPECT_EQ(trembling_pieces(71), 1);
    EXPECT_EQ(trembling_pieces(72), 0);

    kiv_test::open_screen();
    reset_title_state();
    int resting = 0;
    for (int wave = -48; wave <= 123; ++wave) {
        title_wave = wave;
        RandTape tape(1000u + static_cast<unsigned>(wave + 48));
        clear_screen();
        title_draw();
        // Six jitter terms of two draws for every trembling piece; the
        // buttons are not hovered and draw nothing.
        ASSERT_EQ(tape.draws_taken(), 12 * trembling_pieces(wave)) << "wave " << wave;
        if (trembling_pieces(wave) == 0)
            ++resting;
    }
    EXPECT_EQ(resting, 53);
}

TEST(TitleLogo, RunsLeftToRightBetweenTheStrips)
{
    kiv_test::open_screen();
    float last_centre = -1e9f;
    int left = 1000, right = -1000, top = 1000, bottom = -1000;
    for (int k = 0; k < LOGO_PIECES; ++k) {
        const BarPiece& p = logo_pieces[k];
        ASSERT_GE(p.kind, 0);
        ASSERT_LE(p.kind, 3);
        EXPECT_TRUE(p.x >= 0 && p.x <= 288 && p.y >= 0 && p.y <= 80) << "piece " << k;
        const SDL_Surface* img = images[IMAGE_BAR + p.kind];
        // The wave follows the table order: it must run along the word.
        // Pieces stacked in one column may differ by a pixel or so.
        const float centre = p.x + img->w / 2.0f;
        EXPECT_GE(centre, last_centre - 1.0f) << "piece " << k << " goes back to the left";
        last_centre = centre;
        left = std::min(left, 64 + p.x);
        right = std::max(right, 64 + p.x + img->w);
        top = std::min(top, 80 + p.y);
        bottom = std::max(bottom, 80 + p.y + img->h);
    }
    // At rest the word fits between the strips and inside their height,
    // about centred in the gap (40..400).
    EXPECT_GE(left, 40 + 8);
    EXPECT_LE(right, 400 - 8);
    EXPECT_LE(std::abs((left - 40) - (400 - right)), 8);
    EXPECT_GE(top, 80);
    EXPECT_LE(bottom, 172);
}

namespace {

struct TitleScene {
    int wave;
    int hover_start, hover_quit;
    int mx, my;
    int high, shown;
};

// The title frame as it should look, drawn from the primitives, with the
// jitter taken from the recorded sequence: pieces in order, x terms before
// y terms, then Start, then Quit.
void draw_expected_title(RandTape& tape, const TitleScene& s)
{
    clear_screen();
    fill_panel_rect(0, 80, 40, 92);
    fill_panel_rect(400, 80, 240, 92);
    for (int k = 0; k < LOGO_PIECES; ++k) {
        int x = 64 + logo_pieces[k].x;
        int y = 80 + logo_pieces[k].y;
        if (3 * k - 47 <= s.wave && s.wave <= 3 * k - 1) {
            for (int i = 0; i < 3; ++i)
                x += tape.jitter(4);
            for (int i = 0; i < 3; ++i)
                y += tape.jitter(4);
        }
        draw_image(IMAGE_BAR + logo_pieces[k].kind, x, y);
    }
    fill_panel_rect(450, 282, 190, 120);
    for (int b = 0; b < 2; ++b) {   // Start, then Quit; two terms per axis
        int x = 480, y = b ? 350 : 300;
        if (b ? s.hover_quit : s.hover_start) {
            for (int i = 0; i < 2; ++i)
                x += tape.jitter(4);
            for (int i = 0; i < 2; ++i)
                y += tape.jitter(4);
        }
        draw_image(b ? IMAGE_QUIT : IMAGE_START, x, y);
    }
    draw_image(IMAGE_HISCORE, 20, 360);
    draw_number(s.high, 10, 410);
    if (s.shown > 0)
        draw_number(s.shown, 0, 0);
    draw_image(IMAGE_CURSOR, s.mx, s.my);
}

void expect_title_frame(const TitleScene& s, unsigned seed)
{
    title_wave = s.wave;
    hover_start = s.hover_start;
    hover_quit = s.hover_quit;
    menu_x = s.mx;
    menu_y = s.my;
    menu_buttons = 0;
    high_score = s.high;
    shown_score = s.shown;
    RandTape tape(seed);
    clear_screen();
    title_draw();
    const int taken = tape.draws_taken();
    auto actual = kiv_test::grab_screen();
    draw_expected_title(tape, s);
    auto expected = kiv_test::grab_screen();
    EXPECT_EQ(taken, tape.position()) << "wave " << s.wave;
    EXPECT_TRUE(kiv_test::same_pixels(actual, expected)) << "wave " << s.wave;
}

} // namespace

TEST(TitleFrame, MatchesTheLayoutWithJitterInDrawOrder)
{
    kiv_test::open_screen();
    reset_title_state();
    const TitleScene scenes[] = {
        {-48, 0, 0, 320, 240, 1000000, 0},     // whole logo at rest, no last score
        {-47, 0, 0, 10, 20, -1, 0},            // first piece only; -1 drawn as 0
        {-1, 1, 0, 500, 310, 250, 0},          // 16 pieces, Start trembles
        {40, 0, 1, 500, 360, 999999999, 1234}, // middle of the word, Quit trembles
        {71, 0, 0, 639, 479, 7, 88},           // last piece only
        {100, 1, 0, 457, 301, 1000000, 5},     // resting logo, Start trembles
    };
    unsigned seed = 77;
    for (const TitleScene& s : scenes)
        expect_title_frame(s, seed++);
}

namespace {

void prime_running_counters()
{
    score = 5000;
    shown_score = 5000;
    next_milestone = 8000000;
    pace = 23456;
    spawn_timer = 3;
    end_timer = 121;
    event_pressure = 999;
}

} // namespace

TEST(TitleClick, StartBeginsTheGameAndTheFrameFinishesAsTitle)
{
    kiv_test::open_screen();
    reset_title_state();
    sound_off = 1;
    high_score = 31337;
    prime_running_counters();
    title_wave = 10;
    step_at(500, 310, 1);   // wave 11, Start hovered, left button held
    ASSERT_EQ(hover_start, 1);
    ASSERT_EQ(game_state, STATE_TITLE);   // the step only records the click

    RandTape tape(4242);
    clear_screen();
    title_draw();
    const int taken = tape.draws_taken();
    auto actual = kiv_test::grab_screen();

    EXPECT_EQ(game_state, STATE_PLAYING);
    EXPECT_EQ(score + shown_score + end_timer + event_pressure, 0);
    EXPECT_EQ(next_milestone, 1000000);
    EXPECT_EQ(pace, 20000);
    EXPECT_EQ(spawn_timer, 16);
    EXPECT_EQ(high_score, 31337);

    // The rest of the frame is the title: Quit, high score and pointer, and
    // no last score any more, since the new game has cleared it.
    draw_expected_title(tape, {11, 1, 0, 500, 310, 31337, 0});
    auto expected = kiv_test::grab_screen();
    EXPECT_EQ(taken, tape.position());
    EXPECT_TRUE(kiv_test::same_pixels(actual, expected));
}

TEST(TitleClick, OnlyTheLastStepOfTheFrameCounts)
{
    kiv_test::open_screen();
    sound_off = 1;

    // Button held while moving onto Start: the frame whose last step is
    // inside starts the game.
    reset_title_state();
    step_at(440, 310, 1);
    step_at(457, 331, 1);
    title_draw();
    EXPECT_EQ(game_state, STATE_PLAYING);

    // Inside with the button, then off Start in the frame's last step.
    reset_title_state();
    step_at(500, 310, 1);
    step_at(500, 332, 1);
    title_draw();
    EXPECT_EQ(game_state, STATE_TITLE);

    // Over Start, button released in the last step.
    reset_title_state();
    step_at(500, 310, 1);
    step_at(500, 310, 0);
    title_draw();
    EXPECT_EQ(game_state, STATE_TITLE);

    // Other buttons than the left one do nothing.
    reset_title_state();
    step_at(500, 310, 2 | 4);
    title_draw();
    EXPECT_EQ(game_state, STATE_TITLE);
}

TEST(TitleQuitDeathTest, QuitButtonEndsWithStatusOneAndWritesTheHighScore)
{
    // Forked child: it keeps the temporary working directory it is in.
    GTEST_FLAG_SET(death_test_style, "fast");
    kiv_test::open_screen();
    reset_title_state();
    sound_off = 1;
    high_score = 0x01020304;
    char dir[] = "/tmp/kiv_title_quit_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    char* old = getcwd(nullptr, 0);
    ASSERT_EQ(chdir(dir), 0);

    // Over Quit without the button: nothing happens.
    step_at(500, 360, 0);
    title_draw();
    step_at(500, 360, 1);
    ASSERT_EQ(hover_quit, 1);
    EXPECT_EXIT(title_draw(), ::testing::ExitedWithCode(1), "");

    std::string prefs = std::string(dir) + "/kiv.prf";
    unsigned char bytes[8] = {};
    FILE* f = std::fopen(prefs.c_str(), "rb");
    ASSERT_NE(f, nullptr) << "kiv.prf was not written";
    EXPECT_EQ(std::fread(bytes, 1, sizeof bytes, f), 4u);
    std::fclose(f);
    EXPECT_EQ(bytes[0] << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3], 0x01020304);

    EXPECT_EQ(chdir(old), 0);
    std::free(old);
    std::remove(prefs.c_str());
    rmdir(dir);
}
