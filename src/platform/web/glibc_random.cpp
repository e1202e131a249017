// The GNU C library's rand(): an additive feedback generator over 31 words,
// r[i] = r[i-3] + r[i-31] (mod 2^32), giving r[i] >> 1. srand(s) fills
// r[0..30] with a Park-Miller sequence from s (0 counts as 1), continues the
// feedback from there and skips its first 310 values.
#include "platform/web/glibc_random.h"

#include <cstdint>

namespace kiv {

namespace {

constexpr int WORDS = 31;
constexpr int LAG = 3;
std::uint32_t words[WORDS];   // the last 31 values, oldest at `oldest`
int oldest;
bool seeded;

std::uint32_t next_word()
{
    std::uint32_t v = words[oldest] + words[(oldest + WORDS - LAG) % WORDS];
    words[oldest] = v;
    oldest = (oldest + 1) % WORDS;
    return v;
}

} // namespace

void glibc_srand(unsigned seed)
{
    std::int32_t r = static_cast<std::int32_t>(seed == 0 ? 1 : seed);
    std::int32_t start[WORDS];
    start[0] = r;
    for (int i = 1; i < WORDS; i++) {
        // 16807 * r % (2^31 - 1) without overflow (Schrage), as the library does
        std::int32_t hi = r / 127773, lo = r % 127773;
        r = 16807 * lo - 2836 * hi;
        if (r < 0)
            r += 2147483647;
        start[i] = r;
    }
    // The window of the last 31 values after r[33]: r[3..33], where r[31..33]
    // repeat r[0..2] (the library starts its feedback three words in).
    for (int i = 0; i < WORDS; i++)
        words[i] = static_cast<std::uint32_t>(start[(i + LAG) % WORDS]);
    oldest = 0;
    for (int i = 0; i < 310; i++)
        next_word();
    seeded = true;
}

int glibc_rand()
{
    if (!seeded)
        glibc_srand(1);
    return static_cast<int>(next_word() >> 1);
}

} // namespace kiv
