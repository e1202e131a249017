#include "events/spawner.h"

namespace kiv {

const int event_cost[6] = {4800, 5600, 6400, 6000, 6500, 7200};

void update_spawner() {}

} // namespace kiv
