// The C library's rand() and srand() of the web build are the GNU ones, as on
// the desktop: these definitions take the place of the browser C library's.
#include <cstdlib>

#include "platform/web/glibc_random.h"

extern "C" int rand(void)
{
    return kiv::glibc_rand();
}

extern "C" void srand(unsigned seed)
{
    kiv::glibc_srand(seed);
}
