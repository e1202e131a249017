// Drawing of the playfield from the simulation's records.
#pragma once

namespace kiv {

extern int combo_label_y;       // y of the multiplier label; 480 = gone
extern int combo_label_value;   // the multiplier it shows while sliding away

void draw_pan();
void draw_balls();
void draw_popups();

} // namespace kiv
