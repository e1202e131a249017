#include "sim/scoring.h"

namespace kiv {

int multiplier = 1;
int last_multiplier = 1;
int combo_timer;
ScorePopup popups[MAX_POPUPS];
int popup_cursor = MAX_POPUPS;

void catch_ball(Ball&) {}
void add_score(int) {}
void tick_combo() {}
void add_popup(float, float, float, float, int, int, int) {}
void update_popups() {}
void clear_popups() {}

} // namespace kiv
