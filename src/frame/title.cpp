#include "frame/title.h"

#include <cstdlib>

namespace kiv {

int title_wave, hover_start, hover_quit, menu_x, menu_y, menu_buttons;
const BarPiece logo_pieces[LOGO_PIECES] = {};

int jitter(int n)
{
    int s = std::rand();
    int m = std::rand() % n;
    return (s & 1) ? m : -m;
}

void title_update() {}
void title_draw() {}

} // namespace kiv
