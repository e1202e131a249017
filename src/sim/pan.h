// The pan: follows the pointer, tilts, holds and throws balls.
#pragma once

#include "sim/balls.h"
#include "sim/vec.h"

namespace kiv {

struct Pan {
    Vec2 pos;    // centre = pointer position of the last update
    Vec2 prev;   // pos of the update before
    Vec2 vel;    // prev - pos
    float tilt;  // radians; positive lowers the right end
};

struct PanSegment {
    Vec2 p0, p1;     // inner face
    Vec2 p2, p3;     // outer face, opposite p0 and p1
    Vec2 start, end; // centre line
    Vec2 edge1;      // p1 - p0
    Vec2 edge2;      // p0 - p2, the outward normal direction of the inner face
    float edge1_len;
    float edge2_len;
};

extern Pan pan;
extern PanSegment pan_bottom, pan_left_wall, pan_right_wall;
extern PanSegment pan_bottom_prev, pan_left_wall_prev, pan_right_wall_prev;

void reset_pan();
void update_pan();
// kind 0 bottom, 1 left wall, 2 right wall.
void collide_ball_with_segment(Ball& b, const PanSegment& s, const PanSegment& p, int kind);

} // namespace kiv
