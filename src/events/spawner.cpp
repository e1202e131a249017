// The ball spawner, and the pressure that decides when a special event starts.
#include "events/spawner.h"

#include <cstdlib>

#include "events/events.h"
#include "frame/game.h"
#include "sim/balls.h"

namespace kiv {

const int event_cost[6] = {4800, 5600, 6400, 6000, 6500, 7200};

namespace {

constexpr int SPAWN_RATE = 960000;    // steps between balls = SPAWN_RATE / pace
constexpr int PRESSURE_RATE = 4000;   // pressure gained per step = pace / PRESSURE_RATE
constexpr int EVENT_THRESHOLD = 7200;

} // namespace

void update_spawner()
{
    if (spawn_timer <= 0) {
        int colour = rand() % 3;
        int size = rand() % 3;
        int x = rand() % 320;
        int y = -(rand() % 16) - 32;
        int sign = rand();
        int m = rand() % 8;
        int v = rand() % 10;
        float vx = (float)m * 0.1f;
        if (!(sign & 1))
            vx = -vx;
        float vy = (float)v * 0.1f;
        add_ball((float)x, (float)y, vx, vy, colour, size);
        // pace never falls below 20000 in the game; a non-positive pace
        // just spawns in every call
        spawn_timer = pace > 0 ? SPAWN_RATE / pace : 0;
    }
    spawn_timer = spawn_timer - 1;

    event_pressure = event_pressure + pace / PRESSURE_RATE;
    int r = rand();
    if (event_pressure > 0 && r % event_pressure > EVENT_THRESHOLD) {
        int kind = rand() % EVENT_KINDS;
        start_event(kind);
        event_pressure = event_pressure - event_cost[kind];
    }
}

} // namespace kiv
