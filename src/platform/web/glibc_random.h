// The random sequence of the GNU C library's rand(), so that a seed means
// the same game in every build.
#pragma once

namespace kiv {

void glibc_srand(unsigned seed);
int glibc_rand();

} // namespace kiv
