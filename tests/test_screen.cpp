// What reaches the screen: the pictures as loaded, colour-keyed blits and
// fills clipped at the edges (with SDL's 16-bit rectangles), the numbers,
// the popups and the multiplier label, compared pixel by pixel with the
// pictures placed where they belong.
#include <gtest/gtest.h>

#include <png.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "frame/game.h"
#include "media/draw.h"
#include "media/playfield_draw.h"
#include "media/screen.h"
#include "sim/balls.h"
#include "sim/scoring.h"

using namespace kiv;

namespace {

struct Blit {
    int image, x, y;
};

struct Fill {
    int x, y, w, h;
};

using Pixels = std::vector<unsigned char>;

Pixels screen_now()
{
    return Pixels(&screen[0][0], &screen[0][0] + SCREEN_W * SCREEN_H);
}

// White, the panel colour filled in, then the pictures placed in this
// order: every pixel put by itself where it falls, and left out off the
// screen. Positions wrap at 16 bits, as in SDL's rectangles.
Pixels expected(const std::vector<Blit>& blits, const std::vector<Fill>& fills = {})
{
    Pixels p(SCREEN_W * SCREEN_H, 0);
    auto put = [&](long x, long y, unsigned char v) {
        if (x >= 0 && x < SCREEN_W && y >= 0 && y < SCREEN_H)
            p[y * SCREEN_W + x] = v;
    };
    for (const Fill& f : fills)
        for (long y = std::int16_t(f.y); y < std::int16_t(f.y) + long(std::uint16_t(f.h)); y++)
            for (long x = std::int16_t(f.x); x < std::int16_t(f.x) + long(std::uint16_t(f.w)); x++)
                put(x, y, panel_colour);
    for (const Blit& b : blits) {
        const Picture& pic = images[b.image];
        for (int y = 0; y < pic.h; y++)
            for (int x = 0; x < pic.w; x++)
                if (pic.opaque[y * pic.w + x])
                    put(std::int16_t(b.x) + x, std::int16_t(b.y) + y, pic.pixels[y * pic.w + x]);
    }
    return p;
}

::testing::AssertionResult shows(const std::vector<Blit>& blits, const std::vector<Fill>& fills = {})
{
    Pixels got = screen_now(), want = expected(blits, fills);
    for (size_t i = 0; i < got.size(); i++)
        if (got[i] != want[i])
            return ::testing::AssertionFailure() << "differs first at (" << i % SCREEN_W << ", " << i / SCREEN_W
                                                 << "): " << int(got[i]) << ", not " << int(want[i]);
    return ::testing::AssertionSuccess();
}

class Screen : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!video_ready)
            init_offscreen_video();
        clear_screen();
    }
};

} // namespace

// Loading keys out exactly the transparent colour of the moment (red for the
// blue balls, blue for everything else) and keeps every other colour: each
// file as libpng reads it against the picture through the screen's palette.
TEST_F(Screen, PicturesKeepTheirColoursAndLoseOnlyTheKey)
{
    int keyed_balls = 0, keyed_others = 0;
    for (int k = 0; k < IMAGE_COUNT; k++) {
        png_image file;
        std::memset(&file, 0, sizeof file);
        file.version = PNG_IMAGE_VERSION;
        ASSERT_TRUE(png_image_begin_read_from_file(&file, ("images/" + std::string(image_files[k])).c_str()))
            << image_files[k];
        ASSERT_NE(file.format & PNG_FORMAT_FLAG_COLORMAP, 0u) << image_files[k] << " is not a paletted file";
        file.format = PNG_FORMAT_RGB;
        Pixels rgb(PNG_IMAGE_SIZE(file));
        ASSERT_TRUE(png_image_finish_read(&file, nullptr, rgb.data(), 0, nullptr)) << image_files[k];
        const Picture& pic = images[k];
        ASSERT_EQ(int(file.width), pic.w);
        ASSERT_EQ(int(file.height), pic.h);
        int& keyed = k < BLUE_BALL_IMAGES ? keyed_balls : keyed_others;
        int wrong = 0;
        for (int i = 0; i < pic.w * pic.h; i++) {
            Rgb c{rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]};
            bool key = k < BLUE_BALL_IMAGES ? (c.r == 255 && c.g == 0 && c.b == 0) : (c.r == 0 && c.g == 0 && c.b == 255);
            keyed += key;
            const Rgb& got = screen_palette[pic.pixels[i]];
            if (key ? pic.opaque[i] != 0 : (!pic.opaque[i] || got.r != c.r || got.g != c.g || got.b != c.b))
                wrong++;
        }
        EXPECT_EQ(wrong, 0) << image_files[k];
    }
    EXPECT_GT(keyed_balls, 100);
    EXPECT_GT(keyed_others, 1000);
}

// Blits and fills near and past every edge, and at positions and sizes that
// only fit SDL's rectangles of 16-bit fields when cut down to them.
TEST_F(Screen, BlitsAndFillsAreClippedAtTheEdgesOfSixteenBitRectangles)
{
    const int BALL = 8, BAR = IMAGE_BAR + 2, HISCORE = IMAGE_HISCORE;
    struct Row {
        const char* what;
        std::vector<Blit> blits;
        std::vector<Fill> fills;
    } rows[] = {
        {"in the middle", {{BALL, 300, 200}, {HISCORE, 100, 100}}, {}},
        {"over the left and top edges", {{BALL, -10, -7}, {HISCORE, -200, 470}}, {}},
        {"over the right and bottom edges", {{BALL, 630, 470}, {BAR, 620, -30}}, {}},
        {"just off every edge", {{BALL, 640, 0}, {BALL, 0, 480}, {BALL, -31, 0}, {BALL, 0, -31}}, {}},
        {"far off", {{HISCORE, 2000, 100}, {HISCORE, 100, -2000}}, {}},
        {"past 16 bits, wrapped back on", {{BALL, 65536 + 300, 200}, {BALL, 300, -65536 + 50}}, {}},
        {"16 bits read as negative", {{BALL, 32768 + 10, 10}, {HISCORE, 65535, 5}}, {}},
        {"fills inside and over the edges", {}, {{10, 20, 30, 40}, {600, 450, 100, 100}, {-5, -5, 10, 10}}},
        {"a fill's size past 16 bits", {}, {{10, 10, 65536 + 20, 65536 + 30}}},
        {"a negative size is a large one", {}, {{100, 400, -1, 20}}},
        {"a fill placed past 16 bits", {}, {{65536 + 620, 0, 40, 480}}},
        {"pictures over fills", {{HISCORE, 300, 300}}, {{250, 250, 200, 200}}},
    };
    for (const Row& r : rows) {
        clear_screen();
        for (const Fill& f : r.fills)
            fill_panel_rect(f.x, f.y, f.w, f.h);
        for (const Blit& b : r.blits)
            draw_image(b.image, b.x, b.y);
        EXPECT_TRUE(shows(r.blits, r.fills)) << r.what;
    }
    // The side panel: 64 wide from x = 595, clipped to the last 45 columns.
    clear_screen();
    fill_side_panel();
    EXPECT_TRUE(shows({}, {{595, 0, 45, 480}}));
}

TEST_F(Screen, NumbersInDigitsAndPips)
{
    const int D = IMAGE_DIGIT, P = IMAGE_PIP;
    struct Row {
        int value, x, k;   // k < 0: draw_number, else draw_pips of size k
        int returned;
        std::vector<Blit> blits;
    } rows[] = {
        {0, 30, -1, 82, {{D, 30, 5}}},
        {7, 30, -1, 80, {{D + 7, 30, 5}}},
        {100, 10, -1, 160, {{D + 1, 10, 5}, {D, 60, 5}, {D, 110, 5}}},
        {-5, 0, -1, 52, {{D, 0, 5}}},
        {2000000000, 0, -1, 450, {}},   // past the nine digits: shown as 999,999,999
        {1, 40, 0, 40, {{P, 40, 5}}},
        {250, 40, 3, 94, {{P + 3, 40, 5}, {P + 3, 58, 5}, {P + 3, 76, 5}}},
        {0, 40, 5, 40, {}},
    };
    for (int i = 0; i < 9; i++)
        rows[4].blits.push_back({D + 9, 50 * i, 5});
    for (const Row& r : rows) {
        clear_screen();
        int x = r.k < 0 ? draw_number(r.value, r.x, 5) : draw_pips(r.value, r.x, 5, r.k);
        EXPECT_EQ(x, r.returned) << r.value;
        EXPECT_TRUE(shows(r.blits)) << r.value;
    }
}

TEST_F(Screen, PopupsAndTheMultiplierLabelUnderTheBalls)
{
    clear_balls();
    clear_popups();
    popups[2] = ScorePopup{200.5f, 100.9f, 0, 0, 4, 12, 5, 16};
    popups[4] = ScorePopup{200, 300, 0, 0, 4, 12, 5, 9};   // growing: pips of size 4, 3, 2, 2
    draw_popups();
    const int D = IMAGE_DIGIT, P = IMAGE_PIP;
    EXPECT_TRUE(shows({{D + 4, 200, 100}, {IMAGE_TIMES, 250, 100}, {D + 1, 300, 100}, {D + 2, 350, 100},
                       {P + 4, 200, 300}, {P + 3, 224, 300}, {P + 2, 242, 300}, {P + 2, 254, 300}}));

    // The label stands at 408 while a combo runs, then slides a pixel per frame.
    balls[0] = Ball{100.9f, -3.5f, 0, 0, 15, 2, 2, 2};
    balls[7] = Ball{-5.5f, 400, 0, 0, 15, 0, 2, 8};   // over the label
    last_multiplier = 3;
    clear_screen();
    draw_balls();
    EXPECT_TRUE(shows({{IMAGE_TIMES, 0, 408}, {D + 3, 52, 408}, {2, 100, -3}, {8, -5, 400}}));
    last_multiplier = 1;
    for (int y = 409; y <= 480; y++) {
        clear_screen();
        draw_balls();
    }
    EXPECT_EQ(combo_label_y, 480);
    EXPECT_TRUE(shows({{2, 100, -3}, {8, -5, 400}})) << "gone after 72 frames";
    clear_screen();
    draw_balls();
    EXPECT_EQ(combo_label_y, 480);
    clear_balls();
}
