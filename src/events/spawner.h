// The ball spawner and the pressure that starts special events.
#pragma once

namespace kiv {

extern const int event_cost[6];

void update_spawner();

} // namespace kiv
