// Placeholder until the simulation lands: the ball array exists but stays empty.
#include "sim/balls.h"

namespace kiv {

Ball balls[MAX_BALLS];
int ball_cursor = MAX_BALLS;
const float radius_by_size[3] = {7.0f, 10.0f, 15.0f};
const float gravity_base[3] = {0.004f, 0.008f, 0.012f};

void add_ball(float, float, float, float, int, int) {}
void clear_balls()
{
    for (Ball& b : balls)
        b.colour = -1;
}

} // namespace kiv
