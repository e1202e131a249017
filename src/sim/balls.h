// The ball records.
#pragma once

namespace kiv {

struct Ball {
    float x, y;      // centre (the picture's top-left corner is drawn here)
    float vx, vy;    // pixels per step, y downward
    float radius;
    int colour;      // 0 red, 1 green, 2 blue; -1 = free slot
    int size;        // 0 small, 1 medium, 2 large
    int image;       // catalogue index (2 - colour) * 3 + size
};

constexpr int MAX_BALLS = 96;
extern Ball balls[MAX_BALLS];
extern int ball_cursor;   // slot handed out or examined last; 96 at start, never reset

extern const float radius_by_size[3];
extern const float gravity_base[3];

void add_ball(float x, float y, float vx, float vy, int colour, int size);
// Frees every slot and resets the combo.
void clear_balls();

} // namespace kiv
