// The committed pictures: that the generator remakes them byte for byte, that
// they are paletted files in the game's own colours, that loading them as
// the game does keys out exactly the transparent colour and keeps every other
// colour as it is, and that their sizes fit where the game draws them.
#include <gtest/gtest.h>

#include <SDL_image.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "media/palette.h"
#include "media/video.h"

namespace {

std::string committed(int k)
{
    return std::string(KIV_SOURCE_DIR "/images/") + kiv::image_files[k];
}

std::vector<unsigned char> read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool is_key_file(int k, kiv::Rgb c)
{
    const kiv::Rgb key = k < kiv::BLUE_BALL_IMAGES ? kiv::KEY_RED : kiv::KEY_BLUE;
    return c.r == key.r && c.g == key.g && c.b == key.b;
}

bool in_game_palette(kiv::Rgb c)
{
    for (int e = 0; e < 256; e++) {
        const kiv::Rgb p = e < kiv::RAMP_ENTRIES ? kiv::ramp_colour(e / 16, e % 16) : kiv::cube_colour(e);
        if (p.r == c.r && p.g == c.g && p.b == c.b)
            return true;
    }
    return false;
}

unsigned be32(const unsigned char* p)
{
    return (unsigned)p[0] << 24 | (unsigned)p[1] << 16 | (unsigned)p[2] << 8 | p[3];
}

TEST(Images, GeneratorRemakesTheCommittedFilesExactly)
{
    char templ[] = "/tmp/kiv-make-images-XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    const std::string dir = templ;
    const std::string cmd = std::string("'" KIV_BINARY_DIR "/tools/make_images' '") + dir + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    for (int k = 0; k < kiv::IMAGE_COUNT; k++) {
        const std::vector<unsigned char> made = read_file(dir + "/" + kiv::image_files[k]);
        const std::vector<unsigned char> kept = read_file(committed(k));
        EXPECT_FALSE(made.empty()) << kiv::image_files[k];
        EXPECT_TRUE(made == kept) << kiv::image_files[k] << " differs from the generator's output";
        std::remove((dir + "/" + kiv::image_files[k]).c_str());
    }
    rmdir(dir.c_str());
}

// Paletted, 8 bits, no transparency chunk; the palette holds the key colour
// once and otherwise only colours the screen palette has exactly (pure blue
// is never an opaque colour).
TEST(Images, FilesArePalettedInTheGameColours)
{
    for (int k = 0; k < kiv::IMAGE_COUNT; k++) {
        SCOPED_TRACE(kiv::image_files[k]);
        const std::vector<unsigned char> f = read_file(committed(k));
        ASSERT_GT(f.size(), 33u);
        ASSERT_EQ(std::string(f.begin() + 12, f.begin() + 16), "IHDR");
        EXPECT_EQ(f[24], 8) << "bit depth";
        EXPECT_EQ(f[25], 3) << "colour type";
        int keys = 0, plte = 0;
        for (size_t at = 8; at + 12 <= f.size();) {
            const unsigned len = be32(&f[at]);
            const std::string type(f.begin() + at + 4, f.begin() + at + 8);
            ASSERT_LE(at + 12 + len, f.size());
            EXPECT_NE(type, "tRNS");
            EXPECT_NE(type, "tIME");
            if (type == "PLTE") {
                plte++;
                for (unsigned i = 0; i + 3 <= len; i += 3) {
                    const kiv::Rgb c{f[at + 8 + i], f[at + 9 + i], f[at + 10 + i]};
                    if (is_key_file(k, c)) {
                        keys++;
                        continue;
                    }
                    EXPECT_TRUE(in_game_palette(c)) << "colour " << (int)c.r << "," << (int)c.g << "," << (int)c.b;
                    EXPECT_FALSE(c.r == 0 && c.g == 0 && c.b == 255) << "pure blue as an opaque colour";
                }
            }
            at += 12 + len;
        }
        EXPECT_EQ(plte, 1);
        EXPECT_EQ(keys, 1);
    }
}

// A source picture read straight from its file, and the same picture loaded
// as the game loads it.
struct Loaded {
    SDL_Surface* source = nullptr;
    SDL_Surface* converted = nullptr;
};

class LoadedImages : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!kiv::screen) {
            ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0);
            kiv::screen = SDL_SetVideoMode(640, 480, 8, SDL_HWSURFACE | SDL_HWPALETTE | SDL_DOUBLEBUF);
        }
        ASSERT_NE(kiv::screen, nullptr);
        kiv::set_ramp_palette(kiv::screen);
        for (int k = 0; k < kiv::IMAGE_COUNT; k++) {
            if (k < kiv::BLUE_BALL_IMAGES)
                kiv::set_key_colour(kiv::screen, 255, 0, 0);
            else
                kiv::set_key_colour(kiv::screen, 0, 0, 255);
            loaded[k].source = IMG_Load(committed(k).c_str());
            loaded[k].converted = kiv::load_image(kiv::screen, kiv::image_files[k]);
        }
        kiv::set_key_colour(kiv::screen, 255, 255, 255);
    }
    static void TearDownTestSuite()
    {
        for (Loaded& l : loaded) {
            SDL_FreeSurface(l.source);
            SDL_FreeSurface(l.converted);
            l = Loaded{};
        }
    }

    static kiv::Rgb source_colour(int k, int x, int y)
    {
        SDL_Surface* s = loaded[k].source;
        Uint32 pixel = 0;
        const Uint8* row = static_cast<const Uint8*>(s->pixels) + y * s->pitch;
        std::memcpy(&pixel, row + x * s->format->BytesPerPixel, s->format->BytesPerPixel);
        kiv::Rgb c{};
        SDL_GetRGB(pixel, s->format, &c.r, &c.g, &c.b);
        return c;
    }
    static Uint8 converted_pixel(int k, int x, int y)
    {
        SDL_Surface* s = loaded[k].converted;
        return static_cast<const Uint8*>(s->pixels)[y * s->pitch + x];
    }
    static bool opaque(int k, int x, int y) { return converted_pixel(k, x, y) != 0; }
    static int width(int k) { return loaded[k].converted->w; }
    static int height(int k) { return loaded[k].converted->h; }
    static int opaque_count(int k)
    {
        int n = 0;
        for (int y = 0; y < height(k); y++)
            for (int x = 0; x < width(k); x++)
                n += opaque(k, x, y);
        return n;
    }

    static Loaded loaded[kiv::IMAGE_COUNT];
};

Loaded LoadedImages::loaded[kiv::IMAGE_COUNT];

// Exactly the key-coloured pixels turn transparent; every other pixel keeps
// its colour exactly (no hole, no fringe, no colour shift).
TEST_F(LoadedImages, KeyColourAloneIsTransparentAndColoursAreKept)
{
    const SDL_Color* screen_colours = kiv::screen->format->palette->colors;
    for (int k = 0; k < kiv::IMAGE_COUNT; k++) {
        SCOPED_TRACE(kiv::image_files[k]);
        ASSERT_NE(loaded[k].source, nullptr);
        ASSERT_NE(loaded[k].converted, nullptr);
        ASSERT_EQ(loaded[k].converted->format->BitsPerPixel, 8);
        ASSERT_EQ(width(k), loaded[k].source->w);
        ASSERT_EQ(height(k), loaded[k].source->h);
        SDL_LockSurface(loaded[k].converted);
        int wrong_key = 0, wrong_colour = 0, keyed = 0;
        for (int y = 0; y < height(k); y++)
            for (int x = 0; x < width(k); x++) {
                const kiv::Rgb c = source_colour(k, x, y);
                const Uint8 p = converted_pixel(k, x, y);
                keyed += is_key_file(k, c);
                if ((p == 0) != is_key_file(k, c))
                    wrong_key++;
                else if (p != 0 && (screen_colours[p].r != c.r || screen_colours[p].g != c.g ||
                                    screen_colours[p].b != c.b))
                    wrong_colour++;
            }
        SDL_UnlockSurface(loaded[k].converted);
        EXPECT_EQ(wrong_key, 0);
        EXPECT_EQ(wrong_colour, 0);
        EXPECT_LT(keyed, width(k) * height(k)) << "nothing opaque";
    }
}

// Balls fill the square of their diameter as a round disc.
TEST_F(LoadedImages, BallsAreDiscsOfTheirRadius)
{
    const int radius[3] = {7, 10, 15};
    for (int k = kiv::IMAGE_BALL; k < kiv::IMAGE_BALL + 9; k++) {
        SCOPED_TRACE(kiv::image_files[k]);
        const int r = radius[k % 3], d = 2 * r + 1;
        ASSERT_EQ(width(k), d);
        ASSERT_EQ(height(k), d);
        for (int y = 0; y < d; y++)
            for (int x = 0; x < d; x++) {
                const float dist = std::hypot((float)(x - r), (float)(y - r));
                if (dist <= (float)r - 0.5f) {
                    EXPECT_TRUE(opaque(k, x, y)) << x << "," << y;
                }
                if (dist >= (float)r + 1.0f) {
                    EXPECT_FALSE(opaque(k, x, y)) << x << "," << y;
                }
            }
    }
}

// Digits and the sign are drawn 50 px apart: they must not overlap their
// neighbours; pips are round dots of max(2, 6k - 1) px.
TEST_F(LoadedImages, NumbersFitTheirAdvance)
{
    for (int k = kiv::IMAGE_DIGIT; k <= kiv::IMAGE_TIMES; k++) {
        SCOPED_TRACE(kiv::image_files[k]);
        EXPECT_GE(width(k), 40);
        EXPECT_LE(width(k), 50);
        EXPECT_GE(height(k), 54);
        EXPECT_LE(height(k), 60);
        EXPECT_GT(opaque_count(k), 300) << "a bold figure";
    }
    for (int size = 0; size < 8; size++) {
        const int k = kiv::IMAGE_PIP + size, d = std::max(2, 6 * size - 1);
        SCOPED_TRACE(kiv::image_files[k]);
        EXPECT_EQ(width(k), d);
        EXPECT_EQ(height(k), d);
        EXPECT_TRUE(opaque(k, d / 2, d / 2));
        if (d > 4) {
            EXPECT_FALSE(opaque(k, 0, 0));
            EXPECT_FALSE(opaque(k, d - 1, d - 1));
        }
    }
}

// The pan's pieces are laid 19.2 px apart along the bottom and 11.2 px apart
// up a wall: solid, the same all along, and long enough to leave no gap.
TEST_F(LoadedImages, PanPiecesTileWithoutSeams)
{
    const int h = kiv::IMAGE_PAN_H, v = kiv::IMAGE_PAN_V;
    EXPECT_GE(width(h), 20);
    EXPECT_GE(height(h), 10);
    EXPECT_LE(height(h), 14);
    EXPECT_GE(width(v), 10);
    EXPECT_LE(width(v), 12);
    EXPECT_GE(height(v), 12);
    EXPECT_EQ(opaque_count(h), width(h) * height(h));
    EXPECT_EQ(opaque_count(v), width(v) * height(v));
    for (int y = 0; y < height(h); y++)
        for (int x = 1; x < width(h); x++)
            EXPECT_EQ(converted_pixel(h, x, y), converted_pixel(h, 0, y)) << x << "," << y;
    for (int y = 1; y < height(v); y++)
        for (int x = 0; x < width(v); x++)
            EXPECT_EQ(converted_pixel(v, x, y), converted_pixel(v, x, 0)) << x << "," << y;
}

// Special events show where their balls come out.
TEST_F(LoadedImages, EventsShowWhereTheirBallsComeOut)
{
    auto opaque_in = [](int k, int x0, int y0, int x1, int y1) {
        for (int y = y0; y <= y1; y++)
            for (int x = x0; x <= x1; x++)
                if (x >= 0 && y >= 0 && x < width(k) && y < height(k) && opaque(k, x, y))
                    return true;
        return false;
    };
    const int fire = kiv::IMAGE_EVENT, vlcn = fire + 1, tree = fire + 2, vcnt = fire + 3, clud = fire + 4,
              watg = fire + 5;
    for (int k = fire; k <= watg; k++) {
        EXPECT_GE(width(k), 80) << kiv::image_files[k];
        EXPECT_LE(width(k), 128) << kiv::image_files[k];
    }
    EXPECT_TRUE(opaque_in(fire, 44, 0, 52, 0)) << "flames reach the top edge at x 48";
    EXPECT_TRUE(opaque_in(vlcn, 40, 0, 56, 10)) << "crater around (48, 0)";
    EXPECT_GE(height(vlcn), 64);
    EXPECT_LE(height(vlcn), 80);
    EXPECT_TRUE(opaque_in(tree, 2, 30, 6, 34) && opaque_in(tree, 90, 30, 94, 34)) << "crown about 96 wide";
    EXPECT_TRUE(opaque_in(tree, 46, 60, 50, 70)) << "trunk below the crown";
    for (int y = 70; y <= 90; y++)
        EXPECT_TRUE(opaque(vcnt, 0, y)) << "vent outlet on the left edge, y " << y;
    EXPECT_EQ(height(vcnt), 96);
    EXPECT_GE(height(clud), 48);
    EXPECT_LE(height(clud), 56);
    EXPECT_TRUE(opaque_in(clud, 40, 40, 56, 47)) << "cloud's underside near y 48";
    EXPECT_TRUE(opaque_in(watg, 0, 84, 0, 92)) << "pipe comes from the left edge";
    EXPECT_TRUE(opaque_in(watg, 92, 80, 96, 96)) << "mouth at x 96";
    // The appearing burst grows frame by frame.
    for (int k = kiv::IMAGE_APPEAR; k < kiv::IMAGE_APPEAR + 4; k++) {
        EXPECT_EQ(width(k), 96);
        EXPECT_EQ(height(k), 96);
        if (k > kiv::IMAGE_APPEAR) {
            EXPECT_GT(opaque_count(k), opaque_count(k - 1)) << kiv::image_files[k];
        }
    }
}

// Bars, buttons, the label and the pointer.
TEST_F(LoadedImages, TitlePiecesFitTheirPlaces)
{
    const int b = kiv::IMAGE_BAR;
    EXPECT_EQ(width(b), 20);
    EXPECT_EQ(height(b), 7);
    EXPECT_EQ(width(b + 2), 7);
    EXPECT_EQ(height(b + 2), 28);
    for (int k : {b + 1, b + 3}) {
        EXPECT_EQ(width(k), 25);
        EXPECT_EQ(height(k), 28);
    }
    // "/" runs from the lower left to the upper right, "\" the other way.
    EXPECT_TRUE(opaque(b + 1, 3, 24) && opaque(b + 1, 21, 3) && !opaque(b + 1, 2, 2) && !opaque(b + 1, 22, 25));
    EXPECT_TRUE(opaque(b + 3, 3, 3) && opaque(b + 3, 21, 24) && !opaque(b + 3, 22, 2) && !opaque(b + 3, 2, 25));
    // Buttons drawn at x 480 stay inside the click region, which ends at 585.
    for (int k : {kiv::IMAGE_START, kiv::IMAGE_QUIT}) {
        EXPECT_LE(480 + width(k) - 1, 585) << kiv::image_files[k];
        EXPECT_GE(width(k), 90) << kiv::image_files[k];
        EXPECT_LE(height(k), 31) << kiv::image_files[k];
    }
    // The label at (20, 360) stays above the number at y 410.
    EXPECT_GE(width(kiv::IMAGE_HISCORE), 200);
    EXPECT_LE(width(kiv::IMAGE_HISCORE), 300);
    EXPECT_LE(360 + height(kiv::IMAGE_HISCORE), 410);
    // The pointer's tip is its top-left pixel.
    EXPECT_TRUE(opaque(kiv::IMAGE_CURSOR, 0, 0));
    EXPECT_LE(width(kiv::IMAGE_CURSOR), 16);
    EXPECT_LE(height(kiv::IMAGE_CURSOR), 24);
}

} // namespace
