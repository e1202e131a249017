// Screen checks for the drawing tests: the dummy video driver gives a real
// 8-bit screen in memory whose pixels a test compares with an expected
// picture, plus ways to tell how many rand() draws the code took.
#pragma once

#include <gtest/gtest.h>

#include <SDL.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "media/draw.h"
#include "media/video.h"

namespace kiv_test {

struct Blit {
    int image;
    int x, y;
};

// Opens the dummy screen once per process; pictures come from images/ in
// the working directory (the source tree).
inline void open_video()
{
    if (!kiv::screen)
        kiv::init_video(1);
    ASSERT_NE(kiv::screen, nullptr);
}
inline void open_screen() { open_video(); }

inline std::vector<Uint8> pixels_of(SDL_Surface* s)
{
    std::vector<Uint8> pixels(static_cast<size_t>(s->w) * s->h);
    SDL_LockSurface(s);
    for (int y = 0; y < s->h; ++y)
        std::memcpy(&pixels[static_cast<size_t>(y) * s->w], static_cast<Uint8*>(s->pixels) + y * s->pitch, s->w);
    SDL_UnlockSurface(s);
    return pixels;
}
inline std::vector<Uint8> grab_screen() { return pixels_of(kiv::screen); }

// Equal pixels, or how many differ and where the first one is.
inline ::testing::AssertionResult same_pixels(const std::vector<Uint8>& a, const std::vector<Uint8>& b)
{
    int count = 0;
    size_t first = 0;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i] && count++ == 0)
            first = i;
    if (count == 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << count << " pixels differ, the first at (" << first % kiv::SCREEN_W
                                         << ", " << first / kiv::SCREEN_W << ")";
}

// Renders the blits, in order, onto a white copy of the screen.
inline std::vector<Uint8> render_expected(const std::vector<Blit>& blits)
{
    static SDL_Surface* expected = SDL_ConvertSurface(kiv::screen, kiv::screen->format, SDL_SWSURFACE);
    SDL_FillRect(expected, nullptr, 0);
    for (const Blit& b : blits) {
        SDL_Rect r{(Sint16)b.x, (Sint16)b.y, 0, 0};
        SDL_BlitSurface(kiv::images[b.image], nullptr, expected, &r);
    }
    return pixels_of(expected);
}

// The screen holds exactly these pictures on white, drawn in this order.
inline ::testing::AssertionResult screen_shows(const std::vector<Blit>& blits)
{
    return same_pixels(grab_screen(), render_expected(blits));
}

// True when the two orders give different pictures, so that an order test
// can really tell them apart.
inline bool orders_differ(const std::vector<Blit>& a, const std::vector<Blit>& b)
{
    return render_expected(a) != render_expected(b);
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

// The values rand() gives after srand(seed), recorded in advance. A test
// seeds, lets the code draw, and then asks how far the sequence moved; the
// expected picture is built from the same values with next() and jitter().
class RandTape {
public:
    explicit RandTape(unsigned seed, int length = 4000) : seed_(seed)
    {
        std::srand(seed);
        for (int i = 0; i < length; ++i)
            values_.push_back(std::rand());
        std::srand(seed);
    }
    void rewind() { std::srand(seed_); pos_ = 0; }
    int next() { return values_.at(pos_++); }
    // One signed offset: a sign draw (odd = plus), then the size draw.
    int jitter(int n)
    {
        int s = next();
        int m = next() % n;
        return (s & 1) ? m : -m;
    }
    int position() const { return static_cast<int>(pos_); }
    // Draws the code under test took since the seeding; consumes one more
    // value from the real generator to find out.
    int draws_taken() const
    {
        int v = std::rand();
        for (size_t i = 0; i < values_.size(); ++i)
            if (values_[i] == v)
                return static_cast<int>(i);
        return -1;
    }

private:
    unsigned seed_;
    std::vector<int> values_;
    size_t pos_ = 0;
};

} // namespace kiv_test
