// Ball motion: gravity, collisions between balls, the edges of the
// playfield, catches and the miss.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "frame/game.h"
#include "media/sound.h"
#include "sim/balls.h"
#include "sim/motion.h"
#include "sim/pan.h"
#include "sim/scoring.h"

using namespace kiv;

namespace {

// Empty playfield, no gravity (pace 0), no pan, slots handed out from 95 down.
void reset_playfield(int state)
{
    clear_balls();
    ball_cursor = MAX_BALLS;
    game_state = state;
    pace = 0;
    score = 0;
    next_milestone = 1000000;
    std::memset(&pan, 0, sizeof pan);
    for (PanSegment* s : {&pan_bottom, &pan_left_wall, &pan_right_wall, &pan_bottom_prev,
                          &pan_left_wall_prev, &pan_right_wall_prev})
        std::memset(s, 0, sizeof *s);
    for (int& e : effect_requested)
        e = 0;
}

// Adds a ball and returns its slot.
int put_ball(float x, float y, float vx, float vy, int colour, int size)
{
    add_ball(x, y, vx, vy, colour, size);
    return ball_cursor;
}

int used_balls()
{
    int n = 0;
    for (const Ball& b : balls)
        n += b.colour != -1;
    return n;
}

} // namespace

TEST(Gravity, ScalesWithColourAndPace)
{
    reset_playfield(STATE_TITLE);
    pace = 20000;
    int red = put_ball(100, 100, 0, 0, 0, 0);
    int green = put_ball(200, 100, 0, 0, 1, 0);
    int blue = put_ball(300, 100, 0, 0, 2, 0);
    update_balls();
    EXPECT_NEAR(gravity[0], 0.004f, 1e-9f);
    EXPECT_NEAR(gravity[1], 0.008f, 1e-9f);
    EXPECT_NEAR(gravity[2], 0.012f, 1e-9f);
    EXPECT_EQ(balls[red].vy, gravity[0]);
    EXPECT_EQ(balls[green].vy, gravity[1]);
    EXPECT_EQ(balls[blue].vy, gravity[2]);
    // position moves by the new velocity in the same step
    EXPECT_EQ(balls[blue].y, 100.0f + gravity[2]);

    pace = 40000;
    update_balls();
    EXPECT_NEAR(gravity[0], 0.008f, 1e-9f);
    EXPECT_NEAR(gravity[2], 0.024f, 1e-9f);
    EXPECT_NEAR(balls[blue].vy, 0.036f, 1e-7f);
    EXPECT_NEAR(balls[red].vy, 0.012f, 1e-7f);
}

TEST(BallCollision, EqualRadiiSwapTheirSpeedsCutToFourFifths)
{
    reset_playfield(STATE_TITLE);
    // the left ball comes first in slot order and moves to x 102 before the test
    int left = put_ball(100, 100, 2.0f, 0, 1, 1);
    int right = put_ball(119, 100, -1.0f, 0, 2, 1);
    ASSERT_LT(right, left);
    std::swap(balls[left], balls[right]);
    std::swap(left, right);
    update_balls();
    EXPECT_FLOAT_EQ(balls[left].vx, -0.8f);
    EXPECT_FLOAT_EQ(balls[right].vx, 1.6f);
    EXPECT_EQ(balls[left].vy, 0.0f);
    EXPECT_EQ(balls[right].vy, 0.0f);
    // pushed apart about the midpoint (110.5) to exactly touching, then the
    // right ball made its own move
    EXPECT_FLOAT_EQ(balls[left].x, 100.5f);
    EXPECT_FLOAT_EQ(balls[right].x - balls[right].vx, 120.5f);
    EXPECT_EQ(balls[left].y, 100.0f);
}

TEST(BallCollision, TouchingCountsAndAGapDoesNot)
{
    reset_playfield(STATE_TITLE);
    int a = put_ball(100, 100, 0, 0, 0, 1);
    int b = put_ball(100, 120, 0, 0, 0, 1);   // exactly touching, radii 10 + 10
    int c = put_ball(300, 100, 0, 1.0f, 0, 1);
    int d = put_ball(300, 120.01f, 0, 0, 0, 1); // just apart
    (void)a;
    update_balls();
    EXPECT_EQ(balls[b].y, 120.0f);
    EXPECT_EQ(balls[d].y, 120.01f);
    EXPECT_EQ(balls[d].vy, 0.0f);
    EXPECT_EQ(balls[c].vy, 1.0f);
    // the touching pair exchanged speeds even though neither moved
    reset_playfield(STATE_TITLE);
    int lower = put_ball(100, 120, 0, 0, 0, 1);
    int upper = put_ball(100, 100, 0, 0.5f, 0, 1);   // slot below: moves first, to 100.5
    ASSERT_LT(upper, lower);
    update_balls();
    EXPECT_FLOAT_EQ(balls[upper].vy, 0.0f);
    EXPECT_FLOAT_EQ(balls[lower].vy, 0.4f);
}

TEST(BallCollision, LargeBallThrowsASmallOneHarder)
{
    reset_playfield(STATE_TITLE);
    int small = put_ball(121, 200, 0, 0, 0, 0);
    int large = put_ball(100, 200, 1.0f, 0, 2, 2);   // lower slot: moves first
    ASSERT_LT(large, small);
    update_balls();
    EXPECT_NEAR(balls[small].vx, 15.0f * 0.8f / 7.0f, 1e-5f);   // about 1.714
    EXPECT_EQ(balls[large].vx, 0.0f);
    EXPECT_EQ(balls[small].vy, 0.0f);
    // the pair ends touching whatever the sizes: each moved by the same amount
    float gap = (balls[small].x - balls[small].vx) - balls[large].x;
    EXPECT_FLOAT_EQ(gap, 22.0f);
}

TEST(BallCollision, SameSpotLeavesPositionsAndStaysFinite)
{
    reset_playfield(STATE_TITLE);
    int still = put_ball(100, 100, 0, 0, 0, 1);
    int mover = put_ball(99, 100, 1.0f, 0, 2, 2);   // lands exactly on the other
    ASSERT_LT(mover, still);
    update_balls();
    EXPECT_EQ(balls[mover].x, 100.0f);
    EXPECT_EQ(balls[mover].y, 100.0f);
    EXPECT_EQ(balls[mover].vx, 1.0f);
    EXPECT_EQ(balls[still].x, 100.0f);
    EXPECT_EQ(balls[still].vx, 0.0f);
    // the next step separates them normally
    update_balls();
    for (int s : {still, mover}) {
        EXPECT_TRUE(std::isfinite(balls[s].x));
        EXPECT_TRUE(std::isfinite(balls[s].vx));
    }
    EXPECT_FLOAT_EQ(std::fabs(balls[mover].x - balls[still].x + balls[still].vx), 25.0f);
}

TEST(BallCollision, LaterPairsSeeTheMovedPosition)
{
    // Ball 0 is pushed by ball 1 and then meets ball 2 from its new place.
    reset_playfield(STATE_TITLE);
    ball_cursor = 3;
    put_ball(215, 100, 0, 0, 0, 1);   // slot 2
    put_ball(185, 100, 0, 0, 0, 1);   // slot 1
    put_ball(195, 100, 0, 0, 0, 1);   // slot 0: overlaps slot 1 by 10
    update_balls();
    // the first push leaves slot 0 at 190 + 10 = 200, 15 from slot 2, so the
    // two are pushed apart about 207.5; from the old place, 195, they would
    // only have touched and stayed
    EXPECT_FLOAT_EQ(balls[1].x, 180.0f);
    EXPECT_FLOAT_EQ(balls[0].x, 197.5f);
    EXPECT_FLOAT_EQ(balls[2].x, 217.5f);
}

TEST(PlayfieldEdges, AirDragAndCeiling)
{
    reset_playfield(STATE_PLAYING);
    int flying = put_ball(100, -100, 1.0f, -1.0f, 0, 0);
    int high = put_ball(200, -479, 1.0f, -5.0f, 0, 0);
    update_balls();
    EXPECT_EQ(balls[flying].y, -101.0f);
    EXPECT_FLOAT_EQ(balls[flying].vx, 0.99f);
    EXPECT_FLOAT_EQ(balls[flying].vy, -0.99f);
    EXPECT_EQ(balls[high].y, -480.0f);
    EXPECT_EQ(balls[high].vy, 0.0f);
    EXPECT_FLOAT_EQ(balls[high].vx, 0.99f);
    // in the field itself there is no drag
    reset_playfield(STATE_PLAYING);
    int low = put_ball(100, 100, 1.0f, 1.0f, 0, 0);
    update_balls();
    EXPECT_EQ(balls[low].vx, 1.0f);
    EXPECT_EQ(balls[low].vy, 1.0f);
}

TEST(PlayfieldEdges, LeftWallOnlyWhilePlaying)
{
    reset_playfield(STATE_PLAYING);
    int b = put_ball(1, 100, -3.0f, 0, 0, 0);
    update_balls();
    EXPECT_EQ(balls[b].x, 0.0f);
    EXPECT_FLOAT_EQ(balls[b].vx, 2.4f);

    for (int state : {STATE_TITLE, STATE_ENDING}) {
        reset_playfield(state);
        miss_x = 0;
        int t = put_ball(1, 100, -3.0f, 0, 0, 0);
        update_balls();
        EXPECT_LT(balls[t].x, 0.0f);
        EXPECT_NE(balls[t].colour, -1);
    }
}

TEST(PlayfieldEdges, RightEdgeBouncesAboveTheTopAndCatchesBelow)
{
    reset_playfield(STATE_PLAYING);
    int above = put_ball(575, -10, 2.0f, 0, 0, 0);
    int below = put_ball(575, 200, 2.0f, 0, 1, 2);
    update_balls();
    EXPECT_EQ(balls[above].x, 576.0f);
    EXPECT_FLOAT_EQ(balls[above].vx, 2.0f * 0.99f * -0.8f);
    EXPECT_EQ(balls[below].colour, -1);
    EXPECT_EQ(score, 5);           // a large ball at multiplier 1
    EXPECT_EQ(multiplier, 2);

    // the title and the ending simply remove such a ball, unscored
    for (int state : {STATE_TITLE, STATE_ENDING}) {
        reset_playfield(state);
        miss_x = 576;
        int b = put_ball(577, 10, 0, 0, 1, 2);
        update_balls();
        EXPECT_EQ(balls[b].colour, -1);
        EXPECT_EQ(score, 0);
    }
}

TEST(PlayfieldEdges, DampingZoneSlowsPlayingBalls)
{
    reset_playfield(STATE_PLAYING);
    int fast = put_ball(100, 400, 1.0f, 3.0f, 0, 0);
    int slow = put_ball(200, 400, 1.0f, 1.0f, 0, 0);
    int high = put_ball(300, 350, 1.0f, 3.0f, 0, 0);   // 353: above the zone
    update_balls();
    EXPECT_FLOAT_EQ(balls[fast].vy, 3.0f * 0.8f * 0.95f);
    EXPECT_FLOAT_EQ(balls[fast].vx, 0.99f);
    EXPECT_FLOAT_EQ(balls[slow].vy, 0.95f);
    EXPECT_EQ(balls[high].vy, 3.0f);
    EXPECT_EQ(balls[high].vx, 1.0f);
}

TEST(Miss, ExactlyOnTheBottomIsNotAMiss)
{
    reset_playfield(STATE_PLAYING);
    int b = put_ball(100, 479, 0, 1.0f, 0, 0);
    update_balls();
    EXPECT_EQ(balls[b].y, 480.0f);
    EXPECT_EQ(game_state, STATE_PLAYING);
    EXPECT_EQ(used_balls(), 1);
}

TEST(Miss, FallingOutEndsPlayWithASplash)
{
    reset_playfield(STATE_PLAYING);
    int b = put_ball(123, 479.5f, 0, 1.0f, 2, 1);
    update_balls();
    EXPECT_EQ(game_state, STATE_ENDING);
    EXPECT_EQ(miss_x, 123.0f);
    EXPECT_EQ(effect_requested[EFFECT_MISS], 1);
    EXPECT_EQ(balls[b].colour, 2);        // the lost ball stays for now
    EXPECT_EQ(used_balls(), 33);
    for (const Ball& s : balls) {
        if (&s == &balls[b] || s.colour == -1)
            continue;
        EXPECT_EQ(s.colour, 0);
        EXPECT_EQ(s.size, 0);
    }
    // from now on it takes the ending paths and is removed below the bottom
    update_balls();
    EXPECT_EQ(balls[b].colour, -1);
}

TEST(Miss, SplashDrawsSevenNumbersPerBallInOrder)
{
    reset_playfield(STATE_PLAYING);
    int lost = put_ball(300, 479.5f, 0, 1.0f, 1, 0);
    ASSERT_EQ(lost, 95);
    const float x = 300.0f, y = 480.5f;

    srand(4242);
    struct Expected { float x, y, vx, vy; } want[32];
    for (Expected& e : want) {
        int sx = rand();
        int ox = rand() % 32;
        int oy = rand() % 32;
        int svx = rand();
        int mvx = rand() % 32;
        int svy = rand();
        int mvy = rand() % 32;
        e.x = (sx % 2 == 1) ? x + (float)ox : x - (float)ox;
        e.y = y - (float)oy;
        e.vx = (svx % 2 == 1 ? 1.0f : -1.0f) * ((float)mvx * 0.1f);
        e.vy = (svy % 2 == 1 ? 1.0f : -1.0f) * ((float)mvy * 0.1f);
    }
    int next_draw = rand();

    srand(4242);
    update_balls();
    for (int n = 0; n < 32; n++) {
        const Ball& s = balls[94 - n];
        EXPECT_EQ(s.x, want[n].x) << "splash ball " << n;
        EXPECT_EQ(s.y, want[n].y) << "splash ball " << n;
        EXPECT_EQ(s.vx, want[n].vx) << "splash ball " << n;
        EXPECT_EQ(s.vy, want[n].vy) << "splash ball " << n;
        EXPECT_EQ(s.radius, 7.0f);
        EXPECT_EQ(s.image, 6);
    }
    EXPECT_EQ(rand(), next_draw);   // nothing else was drawn
}

TEST(Miss, SplashIsCutShortWhenTheArrayIsFull)
{
    reset_playfield(STATE_PLAYING);
    for (int i = 0; i < 90; i++)
        put_ball(20.0f + (float)(i % 10) * 40.0f, -200.0f - (float)(i / 10) * 30.0f, 0, 0, 0, 0);
    put_ball(500, 479.5f, 0, 1.0f, 0, 0);
    update_balls();
    EXPECT_EQ(game_state, STATE_ENDING);
    EXPECT_EQ(used_balls(), MAX_BALLS);
}

TEST(Miss, CaughtAndLostInTheSameStep)
{
    reset_playfield(STATE_PLAYING);
    int b = put_ball(575, 479, 2.0f, 2.0f, 0, 0);   // to (577, 481)
    update_balls();
    EXPECT_EQ(score, 3);                 // caught first ...
    EXPECT_EQ(multiplier, 2);
    EXPECT_EQ(game_state, STATE_ENDING); // ... then lost
    EXPECT_EQ(miss_x, 577.0f);
    // the splash could take the freed slot; it holds a splash ball or stays free
    EXPECT_TRUE(balls[b].colour == -1 || balls[b].size == 0);
}

TEST(Miss, OnlyTheFirstLostBallSplashes)
{
    reset_playfield(STATE_PLAYING);
    ball_cursor = 2;
    int second = put_ball(400, 490, 0, 0, 2, 2);   // slot 1
    int first = put_ball(100, 490, 0, 0, 1, 1);    // slot 0
    ball_cursor = MAX_BALLS;                        // the splash fills from 95 down
    srand(7);
    update_balls();
    int after = rand();
    srand(7);
    for (int n = 0; n < 7 * 32; n++)
        rand();
    EXPECT_EQ(after, rand()) << "exactly one splash was drawn";
    EXPECT_EQ(miss_x, 100.0f);
    EXPECT_EQ(balls[first].colour, 1);
    EXPECT_EQ(balls[second].colour, -1);   // removed on the ending path
    EXPECT_EQ(game_state, STATE_ENDING);
}

TEST(EndingForces, BlownUpAndAwayFromTheMiss)
{
    reset_playfield(STATE_ENDING);
    miss_x = 100.0f;
    int right = put_ball(200, 100, 0, 0, 0, 0);
    int left = put_ball(50, 100, 0, 0, 0, 0);
    update_balls();
    EXPECT_FLOAT_EQ(balls[right].vx, 0.3f);
    EXPECT_FLOAT_EQ(balls[left].vx, -0.15f);
    EXPECT_FLOAT_EQ(balls[right].vy, -0.3f);
    EXPECT_EQ(balls[right].y, 100.0f);   // forces act after the move
}

TEST(TitleBalls, FallThroughWithoutWallsAndLeaveAtTheBottom)
{
    reset_playfield(STATE_TITLE);
    int b = put_ball(2, 470, -5.0f, 6.0f, 0, 0);
    update_balls();
    EXPECT_EQ(balls[b].x, -3.0f);
    EXPECT_EQ(balls[b].vy, 6.0f);   // no damping zone either
    update_balls();
    EXPECT_EQ(balls[b].colour, -1);
    EXPECT_EQ(game_state, STATE_TITLE);
}

TEST(ComboTick, OncePerUpdate)
{
    reset_playfield(STATE_TITLE);
    combo_timer = 2;
    multiplier = 5;
    last_multiplier = 3;
    update_balls();
    EXPECT_EQ(combo_timer, 1);
    EXPECT_EQ(multiplier, 5);
    update_balls();
    EXPECT_EQ(combo_timer, 0);
    EXPECT_EQ(multiplier, 1);
    EXPECT_EQ(last_multiplier, 1);
}
