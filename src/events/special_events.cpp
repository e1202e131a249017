#include "events/special_events.h"

namespace kiv {

SpecialEvent events[MAX_EVENTS];
int event_cursor = MAX_EVENTS;

void clear_events() {}
void start_event(int) {}
void update_events() {}

} // namespace kiv
