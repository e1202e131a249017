// The ball records: one fixed array, handed out by a cursor that walks down.
#include "sim/balls.h"

#include "sim/scoring.h"

namespace kiv {

Ball balls[MAX_BALLS];
int ball_cursor = MAX_BALLS;
const float radius_by_size[3] = {7.0f, 10.0f, 15.0f};
const float gravity_base[3] = {0.004f, 0.008f, 0.012f};

void add_ball(float x, float y, float vx, float vy, int colour, int size)
{
    int i = ball_cursor;
    int tries = 0;
    for (;;) {
        i = i - 1;
        if (i < 0)
            i = MAX_BALLS - 1;
        if (balls[i].colour == -1)
            break;
        tries = tries + 1;
        if (tries == MAX_BALLS) {
            ball_cursor = i;   // every slot is taken: the ball is dropped
            return;
        }
    }
    ball_cursor = i;
    Ball& b = balls[i];
    b.x = x;
    b.y = y;
    b.vx = vx;
    b.vy = vy;
    b.radius = radius_by_size[size];
    b.colour = colour;
    b.size = size;
    b.image = (2 - colour) * 3 + size;
}

void clear_balls()
{
    for (Ball& b : balls)
        b.colour = -1;
    multiplier = 1;
    last_multiplier = 1;
    combo_timer = 0;
}

} // namespace kiv
