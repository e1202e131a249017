// Scoring, the combo multiplier and the score popups.
#pragma once

#include "sim/balls.h"

namespace kiv {

extern int multiplier;        // multiplier of the next caught ball
extern int last_multiplier;   // multiplier of the last caught ball
extern int combo_timer;       // steps left before the combo ends

struct ScorePopup {
    float x, y;
    float vx, vy;
    int points;
    int multiplier;
    int life;    // 0 = free
    int grow;    // 0..16
};

constexpr int MAX_POPUPS = 6;
extern ScorePopup popups[MAX_POPUPS];
extern int popup_cursor;   // 6 at start, never reset

void catch_ball(Ball& b);
void add_score(int points);
void tick_combo();
void add_popup(float x, float y, float vx, float vy, int points, int multiplier, int life);
void update_popups();
void clear_popups();

} // namespace kiv
