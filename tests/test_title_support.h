// Helpers shared by the title and game-over tests: an open dummy screen, a
// copy of its pixels, and a recorded rand() sequence that tells how many
// draws the code under test took.
#pragma once

#include <gtest/gtest.h>

#include <SDL.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "media/video.h"

namespace kiv_test {

// The dummy driver gives a real 8-bit screen; pictures come from images/ in
// the working directory (the source tree).
inline void open_screen()
{
    if (!kiv::screen)
        kiv::init_video(1);
}

inline std::vector<Uint8> grab_screen()
{
    SDL_Surface* s = kiv::screen;
    std::vector<Uint8> pixels(static_cast<size_t>(s->w) * s->h);
    SDL_LockSurface(s);
    for (int y = 0; y < s->h; ++y)
        std::memcpy(&pixels[static_cast<size_t>(y) * s->w],
                    static_cast<Uint8*>(s->pixels) + y * s->pitch, s->w);
    SDL_UnlockSurface(s);
    return pixels;
}

// Number of pixels that differ between two grabs, and the first of them.
struct Difference {
    int count = 0;
    int first_x = -1, first_y = -1;
};

inline Difference compare_screens(const std::vector<Uint8>& a, const std::vector<Uint8>& b)
{
    Difference d;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i]) {
            if (d.count == 0) {
                d.first_x = static_cast<int>(i % kiv::SCREEN_W);
                d.first_y = static_cast<int>(i / kiv::SCREEN_W);
            }
            ++d.count;
        }
    }
    return d;
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
