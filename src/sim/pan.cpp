#include "sim/pan.h"

namespace kiv {

Pan pan;
PanSegment pan_bottom, pan_left_wall, pan_right_wall;
PanSegment pan_bottom_prev, pan_left_wall_prev, pan_right_wall_prev;

void reset_pan() {}
void update_pan() {}
void collide_ball_with_segment(Ball&, const PanSegment&, const PanSegment&, int) {}

} // namespace kiv
