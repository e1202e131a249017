// Drawing of the special events: appearance pictures while they come and
// go, their own picture in full play, every one shaking a little.
#include <cstdlib>

#include "events/events.h"
#include "media/draw.h"
#include "media/catalogue.h"

namespace kiv {

void draw_events()
{
    for (const SpecialEvent& e : events) {
        if (e.life <= 0)
            continue;
        if (e.phase > 15) {
            int jx = rand() % 5;
            int jy = rand() % 5;
            draw_image(IMAGE_EVENT + e.kind, e.x + jx - 2, e.y + jy - 2);
        } else if (e.phase >= 0) {
            int jx = rand() % 9;
            int jy = rand() % 9;
            draw_image(IMAGE_APPEAR + e.phase / 4, e.x + jx - 4, e.y + jy - 4);
        }
        // A tree record still waiting (phase < 0) is neither drawn nor shaken.
    }
}

} // namespace kiv
