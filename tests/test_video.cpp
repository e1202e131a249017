// The screen, the palette, the pictures and the drawing primitives, on the
// dummy video driver's real 8-bit surface.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "frame/game.h"
#include "media/draw.h"
#include "media/input.h"
#include "media/palette.h"
#include "media/video.h"
#include "test_screen.h"

namespace {

using kiv_test::open_video;
std::vector<Uint8> pixels() { return kiv_test::grab_screen(); }

// Renders with the routine under test and with plain blits of the pictures
// where they belong; the two screens must be the same.
void expect_same_picture(const std::function<void()>& draw, const std::vector<std::array<int, 3>>& blits)
{
    kiv::clear_screen();
    draw();
    std::vector<Uint8> got = pixels();
    kiv::clear_screen();
    for (const auto& b : blits) {
        SDL_Rect at = {static_cast<Sint16>(b[1]), static_cast<Sint16>(b[2]), 0, 0};
        SDL_BlitSurface(kiv::images[b[0]], nullptr, kiv::screen, &at);
    }
    EXPECT_TRUE(got == pixels());
    kiv::clear_screen();
    EXPECT_FALSE(got == pixels()) << "the drawing drew nothing";
}

struct Video : ::testing::Test {
    void SetUp() override { open_video(); }
};

TEST_F(Video, PaletteRampsAndTheUntouchedCube)
{
    ASSERT_EQ(kiv::screen->format->BitsPerPixel, 8);
    EXPECT_EQ(kiv::screen->w, 640);
    EXPECT_EQ(kiv::screen->h, 480);
    const SDL_Color* c = kiv::screen->format->palette->colors;
    for (int i = 0; i < 13; i++) {
        for (int j = 0; j < 16; j++) {
            int e = 16 * i + j;
            if (e == 0)
                continue;
            kiv::Rgb want = kiv::ramp_colour(i, j);
            EXPECT_EQ(c[e].r, want.r) << e;
            EXPECT_EQ(c[e].g, want.g) << e;
            EXPECT_EQ(c[e].b, want.b) << e;
        }
    }
    // Spot checks of the formula: darkest shades.
    EXPECT_EQ(c[15].r, 30);
    EXPECT_EQ(c[16 * 7 + 15].g, 135);
    EXPECT_EQ(c[16 * 4 + 15].r, 255);
    for (int e = 208; e < 256; e++) {
        kiv::Rgb want = kiv::cube_colour(e);
        EXPECT_EQ(c[e].r, want.r) << e;
        EXPECT_EQ(c[e].g, want.g) << e;
        EXPECT_EQ(c[e].b, want.b) << e;
        EXPECT_TRUE(c[e].r == 219 || c[e].r == 255) << e;
    }
    // The key colour is white once loading is done.
    EXPECT_EQ(c[0].r, 255);
    EXPECT_EQ(c[0].g, 255);
    EXPECT_EQ(c[0].b, 255);
    EXPECT_EQ(kiv::panel_colour, 72u);
    char* title = nullptr;
    SDL_WM_GetCaption(&title, nullptr);
    ASSERT_NE(title, nullptr);
    EXPECT_STREQ(title, "Kiv");
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
}

TEST_F(Video, AllPicturesLoadedInTheScreenFormat)
{
    for (int k = 0; k < kiv::IMAGE_COUNT; k++) {
        ASSERT_NE(kiv::images[k], nullptr) << kiv::image_files[k];
        EXPECT_EQ(kiv::images[k]->format->BitsPerPixel, 8) << kiv::image_files[k];
        EXPECT_TRUE(kiv::images[k]->flags & SDL_SRCCOLORKEY) << kiv::image_files[k];
    }
}

TEST_F(Video, ClearAndFills)
{
    kiv::clear_screen();
    std::vector<Uint8> p = pixels();
    EXPECT_EQ(std::count(p.begin(), p.end(), 0), 640 * 480);

    kiv::fill_side_panel();
    p = pixels();
    for (int y : {0, 240, 479}) {
        EXPECT_EQ(p[y * 640 + 594], 0);
        EXPECT_EQ(p[y * 640 + 595], 72);
        EXPECT_EQ(p[y * 640 + 639], 72);
    }
    EXPECT_EQ(std::count(p.begin(), p.end(), 72), 45 * 480);
    EXPECT_EQ(kiv::panel_rect.w, 64) << "the global rectangle is not clipped";

    kiv::clear_screen();
    kiv::fill_panel_rect(450, 282, 190, 120);
    p = pixels();
    EXPECT_EQ(std::count(p.begin(), p.end(), 72), 190 * 120);
    EXPECT_EQ(p[282 * 640 + 450], 72);
    EXPECT_EQ(p[401 * 640 + 639], 72);
    EXPECT_EQ(p[402 * 640 + 639], 0);
    EXPECT_EQ(p[281 * 640 + 450], 0);
}

TEST_F(Video, Numbers)
{
    const int D = kiv::IMAGE_DIGIT;
    int r = 0;
    expect_same_picture([&] { r = kiv::draw_number(0, 30, 5); }, {{D + 0, 30, 5}});
    EXPECT_EQ(r, 82);
    expect_same_picture([&] { r = kiv::draw_number(7, 30, 5); }, {{D + 7, 30, 5}});
    EXPECT_EQ(r, 80);
    expect_same_picture([&] { r = kiv::draw_number(100, 10, 0); },
                        {{D + 1, 10, 0}, {D + 0, 60, 0}, {D + 0, 110, 0}});
    EXPECT_EQ(r, 160);
    std::vector<std::array<int, 3>> nines;
    for (int i = 0; i < 9; i++)
        nines.push_back({D + 9, 50 * i, 0});
    expect_same_picture([&] { r = kiv::draw_number(999999999, 0, 0); }, nines);
    EXPECT_EQ(r, 450);
    // Out of range: a hand-edited high score shows as the largest number,
    // a negative one as zero.
    expect_same_picture([&] { r = kiv::draw_number(2147483647, 0, 0); }, nines);
    EXPECT_EQ(r, 450);
    expect_same_picture([&] { r = kiv::draw_number(-1, 10, 410); }, {{D + 0, 10, 410}});
    EXPECT_EQ(r, 62);
    expect_same_picture([&] { r = kiv::draw_number(-2147483647 - 1, 10, 410); }, {{D + 0, 10, 410}});
}

TEST_F(Video, Pips)
{
    const int P = kiv::IMAGE_PIP;
    int r = 0;
    expect_same_picture([&] { r = kiv::draw_pips(1, 40, 50, 0); }, {{P + 0, 40, 50}});
    EXPECT_EQ(r, 40);
    expect_same_picture([&] { r = kiv::draw_pips(250, 40, 50, 3); }, {{P + 3, 40, 50}, {P + 3, 58, 50}, {P + 3, 76, 50}});
    EXPECT_EQ(r, 94);
    std::vector<std::array<int, 3>> seven;
    for (int i = 0; i < 7; i++)
        seven.push_back({P + 7, 42 * i, 100});
    expect_same_picture([&] { r = kiv::draw_pips(12345678, 0, 100, 7); }, seven);
    EXPECT_EQ(r, 294);
    kiv::clear_screen();
    EXPECT_EQ(kiv::draw_pips(0, 40, 50, 5), 40);
    std::vector<Uint8> p = pixels();
    EXPECT_EQ(std::count(p.begin(), p.end(), 0), 640 * 480);
}

TEST_F(Video, PicturesClipAtTheEdges)
{
    kiv::clear_screen();
    kiv::draw_image(kiv::IMAGE_BALL + 8, 100, -3);
    kiv::draw_image(kiv::IMAGE_EVENT + 5, -4, 470);
    kiv::draw_image(kiv::IMAGE_CURSOR, 639, 479);
    std::vector<Uint8> p = pixels();
    EXPECT_GT(640 * 480 - std::count(p.begin(), p.end(), 0), 0);
}

TEST(Pointer, ScalesTruncatesAndClamps)
{
    kiv::pointer_x = 10;
    kiv::pointer_y = 20;
    kiv::mouse_speed = 1.5f;
    kiv::step_input = {3, -3, 1};
    int x = 0, y = 0;
    EXPECT_EQ(kiv::read_pointer(x, y), 1);
    EXPECT_EQ(x, 14);   // 14.5 truncated
    EXPECT_EQ(y, 15);   // 15.5 truncated
    EXPECT_EQ(kiv::step_input.dx, 0) << "motion is consumed";

    EXPECT_EQ(kiv::read_pointer(x, y), 1) << "the buttons stay until the next step's record";
    EXPECT_EQ(x, 14);

    kiv::mouse_speed = 3.0f;
    kiv::step_input = {500, 500, 0};
    EXPECT_EQ(kiv::read_pointer(x, y), 0);
    EXPECT_EQ(x, 639);
    EXPECT_EQ(y, 479);
    kiv::step_input = {-1000, -1000, 4};
    EXPECT_EQ(kiv::read_pointer(x, y), 4);
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);
    // Truncation toward zero: -0.9 is 0, not -1.
    kiv::mouse_speed = 0.3f;
    kiv::step_input = {-3, -3, 0};
    kiv::read_pointer(x, y);
    EXPECT_EQ(x, 0);
    kiv::pointer_x = 5;
    kiv::step_input = {-3, 0, 0};
    kiv::read_pointer(x, y);
    EXPECT_EQ(x, 4);   // 4.1
    // Absurd motion never converts out of range.
    kiv::mouse_speed = 9.9f;
    kiv::step_input = {2147483647, -2147483647, 0};
    kiv::read_pointer(x, y);
    EXPECT_EQ(x, 639);
    EXPECT_EQ(y, 0);
}

TEST(Pointer, ResetInFullScreenIsTheCentre)
{
    kiv::windowed = 0;
    kiv::pointer_x = 3;
    kiv::pointer_y = 400;
    kiv::reset_pointer();
    EXPECT_EQ(kiv::pointer_x, 320);
    EXPECT_EQ(kiv::pointer_y, 240);
}

TEST(Pointer, ResetInAWindowIsTheSystemMouse)
{
    open_video();
    kiv::windowed = 1;
    kiv::pointer_x = 3;
    kiv::pointer_y = 400;
    int mx = -1, my = -1;
    SDL_GetMouseState(&mx, &my);
    kiv::reset_pointer();
    EXPECT_EQ(kiv::pointer_x, mx);
    EXPECT_EQ(kiv::pointer_y, my);
    kiv::windowed = 0;
}

// Start-up failures end the process with one line and status 1.
struct StartupFailure : ::testing::Test {
    std::string dir;
    void SetUp() override
    {
        ::testing::FLAGS_gtest_death_test_style = "threadsafe";
        char templ[] = "/tmp/kiv-images-XXXXXX";
        dir = mkdtemp(templ);
        std::string cmd = "cp -r '" KIV_SOURCE_DIR "/images' '" + dir + "/'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    void TearDown() override { std::system(("rm -rf " + dir).c_str()); }
    void in_dir() { ASSERT_EQ(chdir(dir.c_str()), 0); }
};

TEST_F(StartupFailure, FirstMissingPictureIsReported)
{
    std::remove((dir + "/images/ball_g10.png").c_str());
    std::remove((dir + "/images/cursor.png").c_str());
    EXPECT_EXIT((in_dir(), kiv::init_video(1)), ::testing::ExitedWithCode(1),
                "(^|\n)Unable to load: images/ball_g10.png\n$");
}

TEST_F(StartupFailure, LastPictureMissingIsReportedAfterTheOthers)
{
    std::remove((dir + "/images/cursor.png").c_str());
    EXPECT_EXIT((in_dir(), kiv::init_video(1)), ::testing::ExitedWithCode(1),
                "(^|\n)Unable to load: images/cursor.png\n$");
}

TEST_F(StartupFailure, UnreadablePictures)
{
    for (const char* junk : {"", "not a picture at all\n", "\x89PNG\r\n\x1a\n\0\0\0\rIHDR"}) {
        FILE* f = std::fopen((dir + "/images/tree.png").c_str(), "wb");
        std::fwrite(junk, 1, std::strlen(junk) + (junk[0] == '\x89' ? 8 : 0), f);
        std::fclose(f);
        EXPECT_EXIT((in_dir(), kiv::init_video(1)), ::testing::ExitedWithCode(1),
                    "(^|\n)Unable to load: images/tree.png\n$");
    }
}

TEST_F(StartupFailure, NoVideoDriver)
{
    EXPECT_EXIT((setenv("SDL_VIDEODRIVER", "no-such-driver", 1), in_dir(), kiv::init_video(1)),
                ::testing::ExitedWithCode(1), "(^|\n)Unable to initialize SDL: .*\n$");
}

TEST_F(StartupFailure, NoDisplayIsAFailureNotAnInvisibleGame)
{
    // Without a display SDL would fall back to drawing offscreen, and the game
    // would run with no window for ever.
    EXPECT_EXIT((unsetenv("SDL_VIDEODRIVER"), unsetenv("DISPLAY"), unsetenv("WAYLAND_DISPLAY"), in_dir(),
                 kiv::init_video(1)),
                ::testing::ExitedWithCode(1), "(^|\n)Unable to initialize SDL: no display to open a window on\n$");
}

} // namespace
