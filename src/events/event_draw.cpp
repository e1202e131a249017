#include "events/special_events.h"

namespace kiv {

void draw_events() {}

} // namespace kiv
