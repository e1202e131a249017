// The ball spawner: intervals, the draws of a new ball, event pressure.
#include <gtest/gtest.h>

#include <cstdlib>

#include "events/spawner.h"
#include "frame/game.h"
#include "sim/balls.h"

using namespace kiv;

namespace {

void start_of_game()
{
    clear_balls();
    ball_cursor = MAX_BALLS;
    pace = 20000;
    spawn_timer = 16;
    event_pressure = 0;
}

int used_balls()
{
    int n = 0;
    for (const Ball& b : balls)
        n += b.colour != -1;
    return n;
}

// How many rand() calls were made since srand(seed), given the value the
// next call returned.
int draws_before(unsigned seed, int next)
{
    srand(seed);
    for (int n = 0; n < 10000; n++)
        if (rand() == next)
            return n;
    return -1;
}

} // namespace

TEST(SpawnInterval, FirstBallOnCall17ThenEvery48AtStartingPace)
{
    start_of_game();
    int calls_with_ball[4];
    int found = 0;
    for (int call = 1; found < 4; call++) {
        int before = used_balls();
        update_spawner();
        if (used_balls() > before)
            calls_with_ball[found++] = call;
        ASSERT_LT(call, 1000);
    }
    EXPECT_EQ(calls_with_ball[0], 17);
    EXPECT_EQ(calls_with_ball[1], 65);
    EXPECT_EQ(calls_with_ball[2], 113);
    EXPECT_EQ(calls_with_ball[3], 161);
}

TEST(SpawnInterval, FollowsThePaceAtTheSpawn)
{
    start_of_game();
    spawn_timer = 0;
    pace = 50000;
    update_spawner();
    ASSERT_EQ(used_balls(), 1);
    pace = 20000;   // a later change does not shorten the wait already set
    int calls = 0;
    while (used_balls() == 1) {
        update_spawner();
        calls++;
        ASSERT_LT(calls, 100);
    }
    EXPECT_EQ(calls, 19);

    start_of_game();
    spawn_timer = 0;
    pace = 960001;
    for (int i = 0; i < 10; i++)
        update_spawner();
    EXPECT_EQ(used_balls(), 10);
    EXPECT_EQ(spawn_timer, -1);
}

TEST(SpawnDraws, SevenDrawsInOrderThenTheEventTest)
{
    // Enough seeds to see both signs of vx and every colour and size.
    int seen_sign[2] = {0, 0};
    for (unsigned seed = 1; seed <= 30; seed++) {
        start_of_game();
        spawn_timer = 0;
        srand(seed);
        int colour = rand() % 3;
        int size = rand() % 3;
        int x = rand() % 320;
        int y = rand() % 16;
        int sign = rand();
        int m = rand() % 8;
        int v = rand() % 10;
        rand();                 // the event test
        int next = rand();
        seen_sign[sign % 2]++;

        srand(seed);
        update_spawner();
        EXPECT_EQ(rand(), next);
        const Ball& b = balls[95];
        EXPECT_EQ(b.colour, colour);
        EXPECT_EQ(b.size, size);
        EXPECT_EQ(b.x, (float)x);
        EXPECT_EQ(b.y, (float)(-y - 32));
        EXPECT_EQ(b.vx, (sign % 2 == 1 ? 1.0f : -1.0f) * ((float)m * 0.1f)) << "seed " << seed;
        EXPECT_EQ(b.vy, (float)v * 0.1f);
        EXPECT_EQ(spawn_timer, 960000 / 20000 - 1);
    }
    EXPECT_GT(seen_sign[0], 0);
    EXPECT_GT(seen_sign[1], 0);
}

TEST(EventPressure, GrowsByPaceOver4000AndOneDrawPerQuietCall)
{
    start_of_game();
    spawn_timer = 1000000;   // keep balls out of the count
    for (int n = 1; n <= 1440; n++) {
        unsigned seed = 1000u + (unsigned)n;
        srand(seed);
        update_spawner();
        ASSERT_EQ(event_pressure, 5 * n);
        ASSERT_EQ(draws_before(seed, rand()), 1) << "call " << n;
    }
    pace = 123456;
    event_pressure = 0;
    update_spawner();
    EXPECT_EQ(event_pressure, 30);   // 123456 / 4000, truncated
}

TEST(EventPressure, NoEventAtOrBelow7201)
{
    start_of_game();
    spawn_timer = 1000000;
    for (unsigned seed = 0; seed < 300; seed++) {
        event_pressure = 7196;
        srand(seed);
        update_spawner();
        ASSERT_EQ(event_pressure, 7201);
        ASSERT_EQ(draws_before(seed, rand()), 1);
    }
}

TEST(EventPressure, StartedEventSpendsItsKindsCost)
{
    // a seed whose event test passes at pressure 7202 and draws kind 5
    unsigned seed = 0;
    for (unsigned s = 1; s < 5000000; s++) {
        srand(s);
        int r = rand();
        if (r % 7202 == 7201 && rand() % 6 == 5) {
            seed = s;
            break;
        }
    }
    ASSERT_NE(seed, 0u);
    start_of_game();
    spawn_timer = 1000000;
    event_pressure = 7197;
    srand(seed);
    update_spawner();
    EXPECT_EQ(event_pressure, 2);

    // at a high pressure nearly every test passes; the drawn kind sets the cost
    for (unsigned s = 0; s < 50; s++) {
        srand(s);
        int r = rand();
        int kind = rand() % 6;
        event_pressure = 2000000000 - 5;
        srand(s);
        update_spawner();
        int expected = r % 2000000000 > 7200 ? 2000000000 - event_cost[kind] : 2000000000;
        ASSERT_EQ(event_pressure, expected) << "seed " << s;
    }
}

TEST(EventPressure, TitleCallsNeverStartEvents)
{
    clear_balls();
    spawn_timer = 0;
    for (unsigned seed = 0; seed < 500; seed++) {
        event_pressure = 0;   // as every title step does
        pace = 20000;
        srand(seed);
        update_spawner();
        ASSERT_EQ(event_pressure, 5);
    }
}
