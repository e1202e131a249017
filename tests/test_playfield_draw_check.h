// Screen checks for the drawing tests: the dummy video driver gives a real
// 8-bit screen in memory; a test states which pictures should be on it, at
// which places and in which order, and compares the whole screen with a
// white surface on which exactly those pictures were blitted.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "media/draw.h"
#include "media/video.h"

namespace kiv_test {

struct Blit {
    int image;
    int x, y;
};

// Opens the dummy screen once per process, whichever test gets there first.
inline void open_video()
{
    if (!kiv::screen)
        kiv::init_video(1);
    ASSERT_NE(kiv::screen, nullptr);
}

inline SDL_Surface* expected_surface()
{
    static SDL_Surface* expected = nullptr;
    if (!expected)
        expected = SDL_ConvertSurface(kiv::screen, kiv::screen->format, SDL_SWSURFACE);
    return expected;
}

// Renders the blits, in order, onto a white copy of the screen.
inline SDL_Surface* render_expected(const std::vector<Blit>& blits)
{
    SDL_Surface* expected = expected_surface();
    SDL_FillRect(expected, nullptr, 0);
    for (const Blit& b : blits) {
        SDL_Rect r;
        r.x = (Sint16)b.x;
        r.y = (Sint16)b.y;
        r.w = 0;
        r.h = 0;
        SDL_BlitSurface(kiv::images[b.image], nullptr, expected, &r);
    }
    return expected;
}

// Differing pixels between the screen and the surface, with the first one.
inline int count_differences(SDL_Surface* other, int* first_x, int* first_y)
{
    SDL_Surface* s = kiv::screen;
    if (SDL_MUSTLOCK(s))
        SDL_LockSurface(s);
    int diffs = 0;
    for (int y = 0; y < kiv::SCREEN_H; ++y) {
        const Uint8* a = (const Uint8*)s->pixels + y * s->pitch;
        const Uint8* b = (const Uint8*)other->pixels + y * other->pitch;
        for (int x = 0; x < kiv::SCREEN_W; ++x) {
            if (a[x] != b[x]) {
                if (diffs == 0) {
                    *first_x = x;
                    *first_y = y;
                }
                ++diffs;
            }
        }
    }
    if (SDL_MUSTLOCK(s))
        SDL_UnlockSurface(s);
    return diffs;
}

// The screen holds exactly these pictures on white, drawn in this order.
inline ::testing::AssertionResult screen_shows(const std::vector<Blit>& blits)
{
    int fx = 0, fy = 0;
    int diffs = count_differences(render_expected(blits), &fx, &fy);
    if (diffs == 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << diffs << " pixels differ, the first at (" << fx << ", " << fy << ")";
}

// True when the two orders give different pictures, so that an order test
// can really tell them apart.
inline bool orders_differ(const std::vector<Blit>& a, const std::vector<Blit>& b)
{
    SDL_Surface* copy = SDL_ConvertSurface(render_expected(a), kiv::screen->format, SDL_SWSURFACE);
    render_expected(b);
    SDL_Surface* eb = expected_surface();
    bool differ = false;
    for (int y = 0; y < kiv::SCREEN_H && !differ; ++y)
        for (int x = 0; x < kiv::SCREEN_W && !differ; ++x)
            differ = ((Uint8*)copy->pixels)[y * copy->pitch + x] != ((Uint8*)eb->pixels)[y * eb->pitch + x];
    SDL_FreeSurface(copy);
    return differ;
}

// Number of rand() calls fn makes, found by looking up the value that follows
// them in a replay of the sequence from the same seed.
template <class F>
int rand_calls(unsigned seed, F fn)
{
    srand(seed);
    fn();
    int next = rand();
    srand(seed);
    for (int n = 0; n < 4096; ++n)
        if (rand() == next)
            return n;
    return -1;
}

} // namespace kiv_test
