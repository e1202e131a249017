// What reaches the screen: the pictures as loaded, the numbers, the popups
// and the multiplier label, compared pixel by pixel with the pictures placed
// where they belong. The dummy video driver gives a real 8-bit screen.
#include <gtest/gtest.h>

#include <SDL.h>
#include <SDL_image.h>

#include <cstring>
#include <string>
#include <vector>

#include "frame/game.h"
#include "media/draw.h"
#include "media/playfield_draw.h"
#include "platform/sdl/video.h"
#include "sim/balls.h"
#include "sim/scoring.h"

using namespace kiv;

namespace {

struct Blit {
    int image, x, y;
};

std::vector<Uint8> pixels_of(SDL_Surface* s)
{
    std::vector<Uint8> p(SCREEN_W * SCREEN_H);
    for (int y = 0; y < SCREEN_H; y++)
        std::memcpy(&p[y * SCREEN_W], static_cast<Uint8*>(s->pixels) + y * s->pitch, SCREEN_W);
    return p;
}

// The pictures placed in this order on white, as SDL itself blits them.
std::vector<Uint8> expected(const std::vector<Blit>& blits)
{
    static SDL_Surface* canvas = SDL_ConvertSurface(screen, screen->format, SDL_SWSURFACE);
    SDL_FillRect(canvas, nullptr, 0);
    for (const Blit& b : blits) {
        SDL_Rect at{(Sint16)b.x, (Sint16)b.y, 0, 0};
        SDL_BlitSurface(images[b.image], nullptr, canvas, &at);
    }
    return pixels_of(canvas);
}

::testing::AssertionResult shows(const std::vector<Blit>& blits)
{
    std::vector<Uint8> got = pixels_of(screen), want = expected(blits);
    for (size_t i = 0; i < got.size(); i++)
        if (got[i] != want[i])
            return ::testing::AssertionFailure() << "differs first at (" << i % SCREEN_W << ", " << i / SCREEN_W << ")";
    return ::testing::AssertionSuccess();
}

class Screen : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!video_ready)
            init_video(1);
        clear_screen();
    }
};

} // namespace

// Loading keys out exactly the transparent colour of the moment (red for the
// blue balls, blue for everything else) and keeps every other colour.
TEST_F(Screen, PicturesKeepTheirColoursAndLoseOnlyTheKey)
{
    const SDL_Palette* pal = screen->format->palette;
    int keyed_balls = 0, keyed_others = 0;
    for (int k = 0; k < IMAGE_COUNT; k++) {
        SDL_Surface* file = IMG_Load((std::string("images/") + image_files[k]).c_str());
        ASSERT_NE(file, nullptr) << image_files[k];
        ASSERT_EQ(file->format->BitsPerPixel, 8) << image_files[k] << " is not a paletted file";
        ASSERT_EQ(file->w, images[k]->w);
        ASSERT_EQ(file->h, images[k]->h);
        int& keyed = k < BLUE_BALL_IMAGES ? keyed_balls : keyed_others;
        int wrong = 0;
        for (int y = 0; y < file->h; y++) {
            for (int x = 0; x < file->w; x++) {
                const SDL_Color& c = file->format->palette->colors[static_cast<Uint8*>(file->pixels)[y * file->pitch + x]];
                Uint8 v = static_cast<Uint8*>(images[k]->pixels)[y * images[k]->pitch + x];
                bool key = k < BLUE_BALL_IMAGES ? (c.r == 255 && c.g == 0 && c.b == 0) : (c.r == 0 && c.g == 0 && c.b == 255);
                keyed += key;
                const SDL_Color& got = pal->colors[v];
                if (key ? v != 0 : (v == 0 || got.r != c.r || got.g != c.g || got.b != c.b))
                    wrong++;
            }
        }
        EXPECT_EQ(wrong, 0) << image_files[k];
        SDL_FreeSurface(file);
    }
    EXPECT_GT(keyed_balls, 100);
    EXPECT_GT(keyed_others, 1000);
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
