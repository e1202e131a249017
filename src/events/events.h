// Special events: fire, vlcn, tree, vcnt, clud, watg.
#pragma once

namespace kiv {

struct SpecialEvent {
    int x, y;     // top-left corner of the picture
    int life;     // 0 = free; steps of full play left; 1 while vanishing
    int phase;    // 0..16 appearing, 16 in play, down to 0 vanishing; < 0 waiting
    int kind;     // 0..5
};

constexpr int MAX_EVENTS = 4;
constexpr int EVENT_KINDS = 6;
extern SpecialEvent events[MAX_EVENTS];
extern int event_cursor;   // 4 at start, never reset

void clear_events();
void start_event(int kind);
void update_events();
// Draws the events, shaking (two rand() draws per drawn record).
void draw_events();

} // namespace kiv
