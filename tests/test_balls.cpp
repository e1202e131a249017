// The ball array and its free-slot search.
#include <gtest/gtest.h>

#include "sim/balls.h"
#include "sim/scoring.h"

using namespace kiv;

namespace {

int used_balls()
{
    int n = 0;
    for (const Ball& b : balls)
        n += b.colour != -1;
    return n;
}

} // namespace

TEST(BallSlots, SuccessiveBallsTakeDescendingSlotsFromTheCursor)
{
    clear_balls();
    ball_cursor = 96;
    add_ball(1.0f, 2.0f, 3.0f, 4.0f, 0, 0);
    add_ball(5.0f, 6.0f, 7.0f, 8.0f, 1, 1);
    add_ball(9.0f, 10.0f, 11.0f, 12.0f, 2, 2);
    EXPECT_EQ(ball_cursor, 93);
    EXPECT_EQ(balls[95].x, 1.0f);
    EXPECT_EQ(balls[95].vy, 4.0f);
    EXPECT_EQ(balls[94].y, 6.0f);
    EXPECT_EQ(balls[93].vx, 11.0f);
    EXPECT_EQ(used_balls(), 3);
}

TEST(BallSlots, SearchWrapsFromZeroAndSkipsUsedSlots)
{
    clear_balls();
    ball_cursor = 1;
    add_ball(0, 0, 0, 0, 0, 0);        // slot 0
    EXPECT_EQ(ball_cursor, 0);
    add_ball(0, 0, 0, 0, 0, 0);        // wraps to 95
    EXPECT_EQ(ball_cursor, 95);
    balls[94].colour = 2;              // 94 taken meanwhile
    add_ball(0, 0, 0, 0, 0, 0);
    EXPECT_EQ(ball_cursor, 93);
}

TEST(BallSlots, ClearBallsKeepsTheCursor)
{
    clear_balls();
    ball_cursor = 40;
    add_ball(0, 0, 0, 0, 0, 0);
    clear_balls();
    EXPECT_EQ(ball_cursor, 39);
    add_ball(0, 0, 0, 0, 0, 0);
    EXPECT_EQ(ball_cursor, 38);
    clear_balls();
    ball_cursor = 0;
    add_ball(0, 0, 0, 0, 0, 0);
    EXPECT_EQ(ball_cursor, 95);
}

TEST(BallSlots, FullArrayDropsTheBallAndKeepsEveryRecord)
{
    clear_balls();
    for (int i = 0; i < MAX_BALLS; i++)
        add_ball((float)i, 0, 0, 0, i % 3, 0);
    EXPECT_EQ(used_balls(), MAX_BALLS);
    Ball before[MAX_BALLS];
    for (int i = 0; i < MAX_BALLS; i++)
        before[i] = balls[i];
    for (int start : {0, 17, 96}) {
        ball_cursor = start;
        add_ball(-1.0f, -1.0f, 0, 0, 2, 2);
        EXPECT_EQ(ball_cursor, start % MAX_BALLS) << "cursor started at " << start;
    }
    for (int i = 0; i < MAX_BALLS; i++) {
        EXPECT_EQ(balls[i].x, before[i].x);
        EXPECT_EQ(balls[i].colour, before[i].colour);
    }
    // one freed slot anywhere is found
    balls[50].colour = -1;
    ball_cursor = 10;
    add_ball(7.0f, 0, 0, 0, 1, 1);
    EXPECT_EQ(ball_cursor, 50);
    EXPECT_EQ(balls[50].x, 7.0f);
}

TEST(BallRecord, RadiusAndImageFollowColourAndSize)
{
    clear_balls();
    ball_cursor = 96;
    add_ball(0, 0, 0, 0, 1, 2);
    EXPECT_EQ(balls[95].radius, 15.0f);
    EXPECT_EQ(balls[95].image, 5);
    add_ball(0, 0, 0, 0, 0, 0);
    EXPECT_EQ(balls[94].radius, 7.0f);
    EXPECT_EQ(balls[94].image, 6);
    add_ball(0, 0, 0, 0, 2, 1);
    EXPECT_EQ(balls[93].radius, 10.0f);
    EXPECT_EQ(balls[93].image, 1);
    EXPECT_EQ(balls[93].colour, 2);
    EXPECT_EQ(balls[93].size, 1);
}

TEST(BallRecord, ClearBallsEndsTheCombo)
{
    multiplier = 14;
    last_multiplier = 10;
    combo_timer = 7;
    clear_balls();
    EXPECT_EQ(multiplier, 1);
    EXPECT_EQ(last_multiplier, 1);
    EXPECT_EQ(combo_timer, 0);
    EXPECT_EQ(used_balls(), 0);
}
