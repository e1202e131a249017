// Ball motion, collisions, the edges of the playfield and the miss.
#pragma once

namespace kiv {

extern float gravity[3];   // per colour, recomputed every update
extern float miss_x;       // x of the ball whose fall ended play

void update_balls();

} // namespace kiv
