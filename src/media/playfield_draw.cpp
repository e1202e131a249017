#include "media/playfield_draw.h"

namespace kiv {

int combo_label_y = 480;
int combo_label_value;

void draw_pan() {}
void draw_balls() {}
void draw_popups() {}

} // namespace kiv
