// The pan: geometry from the pointer, holding, bouncing and throwing balls.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "frame/game.h"
#include "media/draw.h"
#include "media/input.h"
#include "sim/balls.h"
#include "sim/motion.h"
#include "sim/pan.h"
#include "sim/scoring.h"

using namespace kiv;

namespace {

void zero_segments()
{
    for (PanSegment* s : {&pan_bottom, &pan_left_wall, &pan_right_wall, &pan_bottom_prev,
                          &pan_left_wall_prev, &pan_right_wall_prev})
        std::memset(s, 0, sizeof *s);
}

// One pan update with the pointer moved by (dx, dy).
void move_pointer(int dx, int dy)
{
    step_input = StepInput{dx, dy, 0};
    update_pan();
}

// A level pan resting at (x, y): two updates with the pointer still.
void still_pan_at(int x, int y)
{
    mouse_speed = 1.0f;
    pointer_x = x;
    pointer_y = y;
    pan.pos = Vec2{(float)x, (float)y};
    pan.tilt = 0.0f;
    move_pointer(0, 0);
    move_pointer(0, 0);
}

Ball make_ball(float x, float y, float vx, float vy, int size)
{
    Ball b{};
    b.x = x;
    b.y = y;
    b.vx = vx;
    b.vy = vy;
    b.radius = radius_by_size[size];
    b.colour = 0;
    b.size = size;
    b.image = 6 + size;
    return b;
}

float min_x(const PanSegment& s) { return std::fmin(std::fmin(s.p0.x, s.p1.x), std::fmin(s.p2.x, s.p3.x)); }
float max_x(const PanSegment& s) { return std::fmax(std::fmax(s.p0.x, s.p1.x), std::fmax(s.p2.x, s.p3.x)); }
float min_y(const PanSegment& s) { return std::fmin(std::fmin(s.p0.y, s.p1.y), std::fmin(s.p2.y, s.p3.y)); }
float max_y(const PanSegment& s) { return std::fmax(std::fmax(s.p0.y, s.p1.y), std::fmax(s.p2.y, s.p3.y)); }

} // namespace

TEST(PanGeometry, LevelPanAtTheCentre)
{
    still_pan_at(320, 240);
    EXPECT_EQ(pan.vel.x, 0.0f);
    EXPECT_EQ(pan.vel.y, 0.0f);
    EXPECT_EQ(pan.tilt, 0.0f);
    const float tol = 0.01f;
    const PanSegment& b = pan_bottom;
    EXPECT_NEAR(b.start.x, 272.0f, tol);
    EXPECT_NEAR(b.start.y, 240.0f, tol);
    EXPECT_NEAR(b.end.x, 368.0f, tol);
    EXPECT_NEAR(b.end.y, 240.0f, tol);
    EXPECT_NEAR(min_x(b), 254.18f, tol);
    EXPECT_NEAR(max_x(b), 385.82f, tol);
    EXPECT_NEAR(min_y(b), 222.19f, 0.02f);   // pi as 3.1415: level to a hundredth
    EXPECT_NEAR(max_y(b), 257.82f, tol);
    EXPECT_NEAR(b.edge1_len, 131.64f, tol);
    EXPECT_NEAR(b.edge2_len, 35.64f, tol);
    // the inner face is the top one, its normal points up
    EXPECT_NEAR(b.p0.y, 222.19f, tol);
    EXPECT_NEAR(b.p1.y, 222.19f, 0.02f);
    EXPECT_LT(b.p0.x, b.p1.x);
    EXPECT_LT(b.edge2.y, -35.0f);

    const PanSegment& l = pan_left_wall;
    EXPECT_NEAR(l.start.x, 254.18f, tol);
    EXPECT_NEAR(l.start.y, 222.19f, tol);
    EXPECT_NEAR(l.end.y, 222.19f - 16.0f, tol);
    EXPECT_NEAR(min_x(l), 236.36f, tol);
    EXPECT_NEAR(max_x(l), 272.0f, tol);
    EXPECT_NEAR(min_y(l), 188.37f, tol);
    EXPECT_NEAR(max_y(l), 240.0f, tol);
    EXPECT_NEAR(l.edge1_len, 51.64f, tol);
    EXPECT_NEAR(l.p0.x, 272.0f, tol);   // inner face on the right
    EXPECT_NEAR(l.p1.x, 272.0f, tol);

    const PanSegment& r = pan_right_wall;
    EXPECT_NEAR(min_x(r), 368.0f, tol);
    EXPECT_NEAR(max_x(r), 403.64f, tol);
    EXPECT_NEAR(min_y(r), 188.37f, 0.02f);
    EXPECT_NEAR(r.edge1_len, 51.64f, tol);
    EXPECT_NEAR(r.p0.x, 368.0f, tol);   // inner face on the left
}

TEST(PanGeometry, PreviousCopiesAndTilt)
{
    still_pan_at(320, 240);
    PanSegment before = pan_bottom;
    PanSegment wall_before = pan_left_wall;
    move_pointer(10, 0);
    EXPECT_EQ(std::memcmp(&pan_bottom_prev, &before, sizeof before), 0);
    EXPECT_EQ(std::memcmp(&pan_left_wall_prev, &wall_before, sizeof wall_before), 0);
    EXPECT_NE(std::memcmp(&pan_left_wall, &wall_before, sizeof wall_before), 0);
    EXPECT_EQ(pan.vel.x, -10.0f);
    EXPECT_FLOAT_EQ(pan.tilt, 0.046f);
    EXPECT_GT(pan_bottom.end.y, pan_bottom.start.y);   // the right end goes down
    move_pointer(0, 0);
    EXPECT_FLOAT_EQ(pan.tilt, 0.046f * 0.92f);        // and straightens again
}

TEST(PanGeometry, FirstUpdateAfterReset)
{
    mouse_speed = 1.0f;
    pointer_x = 400;
    pointer_y = 300;
    pan.tilt = 0.3f;
    reset_pan();
    EXPECT_EQ(pan.pos.x, 80.0f);
    EXPECT_EQ(pan.prev.y, 60.0f);
    move_pointer(0, 0);
    EXPECT_EQ(pan.vel.x, -320.0f);
    EXPECT_EQ(pan.vel.y, -240.0f);
    EXPECT_FLOAT_EQ(pan.tilt, 1.472f);
    EXPECT_EQ(pan.pos.x, 400.0f);
    EXPECT_EQ(pan.prev.x, 80.0f);
}

TEST(PanGeometry, FollowsThePointerScaledAndClamped)
{
    still_pan_at(320, 240);
    mouse_speed = 2.0f;
    move_pointer(5, -3);
    EXPECT_EQ(pan.pos.x, 330.0f);
    EXPECT_EQ(pan.pos.y, 234.0f);
    mouse_speed = 1.0f;
    move_pointer(1000, 1000);
    EXPECT_EQ(pan.pos.x, 639.0f);
    EXPECT_EQ(pan.pos.y, 479.0f);
}

TEST(PanBounce, FallingBallKeepsAFifthOfItsSpeed)
{
    still_pan_at(320, 240);
    Ball b = make_ball(320, 224, 0.5f, 3.0f, 1);
    collide_ball_with_segment(b, pan_bottom, pan_bottom_prev, 0);
    EXPECT_NEAR(b.vy, -0.6f, 1e-3f);
    EXPECT_NEAR(b.vx, 0.5f, 1e-3f);
    EXPECT_NEAR(b.y, 222.19f, 0.01f);   // put back on the inner face
    EXPECT_NEAR(b.x, 320.0f, 0.01f);
}

TEST(PanBounce, ThroughTheStepsOfPlay)
{
    clear_balls();
    ball_cursor = MAX_BALLS;
    game_state = STATE_PLAYING;
    pace = 0;
    still_pan_at(320, 240);
    add_ball(300, 221, 0, 3.0f, 2, 2);   // falls to 224, inside the bottom's box
    update_balls();
    EXPECT_NEAR(balls[95].y, 222.19f, 0.01f);
    EXPECT_NEAR(balls[95].vy, -0.6f, 1e-3f);
    // a resting ball stays on the face of a still pan: no kick
    balls[95].vy = 0.0f;
    for (int i = 0; i < 20; i++) {
        update_balls();
        move_pointer(0, 0);
    }
    EXPECT_NEAR(balls[95].y, 222.19f, 0.01f);
    EXPECT_NEAR(balls[95].x, 300.0f, 0.01f);
    EXPECT_LT(std::fabs(balls[95].vy), 0.1f);
}

TEST(PanBounce, WallsPushBallsBackIntoThePan)
{
    still_pan_at(320, 240);
    Ball l = make_ball(271, 215, -2.0f, 0.0f, 0);
    collide_ball_with_segment(l, pan_left_wall, pan_left_wall_prev, 1);
    EXPECT_NEAR(l.x, 272.0f, 0.01f);
    EXPECT_NEAR(l.vx, 0.4f, 1e-3f);
    // The right wall's p0 is its lower corner, so a ball above it keeps its
    // depth, turned outward from the face: 1 px in becomes 1 px out.
    Ball r = make_ball(369, 215, 2.0f, 0.0f, 0);
    collide_ball_with_segment(r, pan_right_wall, pan_right_wall_prev, 2);
    EXPECT_NEAR(r.x, 367.0f, 0.01f);
    EXPECT_NEAR(r.vx, -0.4f, 1e-3f);
    // a ball outside the walls is not touched
    Ball out = make_ball(230, 215, 2.0f, 1.0f, 0);
    collide_ball_with_segment(out, pan_left_wall, pan_left_wall_prev, 1);
    EXPECT_EQ(out.x, 230.0f);
    EXPECT_EQ(out.vx, 2.0f);
    // nor a ball above the bottom
    Ball above = make_ball(320, 215, 0.0f, 1.0f, 0);
    collide_ball_with_segment(above, pan_bottom, pan_bottom_prev, 0);
    EXPECT_EQ(above.y, 215.0f);
    EXPECT_EQ(above.vy, 1.0f);
}

namespace {

// The velocity a ball in the pan gains from the pan's last motion: the same
// ball against the same segments, with and without the pan's velocity.
Vec2 kick_of(Ball b, const PanSegment& s, const PanSegment& p, int kind)
{
    Ball still = b;
    collide_ball_with_segment(b, s, p, kind);
    Vec2 saved = pan.vel;
    pan.vel = Vec2{0.0f, 0.0f};
    collide_ball_with_segment(still, s, p, kind);
    pan.vel = saved;
    EXPECT_EQ(b.x, still.x);
    return Vec2{b.vx - still.vx, b.vy - still.vy};
}

} // namespace

TEST(PanKick, LiftingThrowsUpAndLoweringGivesNothing)
{
    still_pan_at(320, 240);
    move_pointer(0, -10);   // face now at 212.19
    Ball held = make_ball(320, 214, 0.0f, 0.0f, 1);
    Vec2 k = kick_of(held, pan_bottom, pan_bottom_prev, 0);
    EXPECT_FLOAT_EQ(k.y, -4.0f);
    EXPECT_EQ(k.x, 0.0f);

    still_pan_at(320, 240);
    move_pointer(0, 10);    // face now at 232.19
    Ball low = make_ball(320, 234, 0.0f, 0.0f, 1);
    Ball hit = low;
    collide_ball_with_segment(hit, pan_bottom, pan_bottom_prev, 0);
    EXPECT_NEAR(hit.y, 232.19f, 0.01f);   // it was held ...
    k = kick_of(low, pan_bottom, pan_bottom_prev, 0);
    EXPECT_EQ(k.y, 0.0f);                 // ... but not pushed down
    EXPECT_EQ(k.x, 0.0f);
}

TEST(PanKick, SidewaysMotionThrowsSmallBallsHarder)
{
    still_pan_at(320, 240);
    move_pointer(10, 0);
    Ball small = make_ball(330, 224, 0.0f, 0.0f, 0);
    Vec2 k = kick_of(small, pan_bottom, pan_bottom_prev, 0);
    EXPECT_NEAR(k.x, 2.0f * 10.0f / 7.0f, 1e-4f);
    EXPECT_EQ(k.y, 0.0f);
    Ball large = make_ball(330, 224, 0.0f, 0.0f, 2);
    k = kick_of(large, pan_bottom, pan_bottom_prev, 0);
    EXPECT_NEAR(k.x, 2.0f * 10.0f / 15.0f, 1e-4f);
}

TEST(PanSweep, BallsBeyondTheFaceLengthAreLeftAlone)
{
    // the pan jumps 20 px right without tilting
    still_pan_at(320, 240);
    pan.tilt = -0.1f;
    move_pointer(20, 0);
    ASSERT_NEAR(pan.tilt, 0.0f, 1e-6f);
    // both balls are under the new face and inside the swept region; only the
    // first lies within one face length of the old p0
    Ball near = make_ball(380, 225, 0.0f, 1.0f, 0);
    collide_ball_with_segment(near, pan_bottom, pan_bottom_prev, 0);
    EXPECT_NEAR(near.y, 222.19f, 0.02f);
    Ball far = make_ball(395, 225, 0.0f, 1.0f, 0);
    Ball far_copy = far;
    collide_ball_with_segment(far, pan_bottom, pan_bottom_prev, 0);
    EXPECT_EQ(far.y, 225.0f);
    EXPECT_EQ(far.vy, 1.0f);
    // it is the face length that keeps it out: a longer face would take it
    PanSegment longer = pan_bottom;
    longer.edge1_len = 1000.0f;
    collide_ball_with_segment(far_copy, longer, pan_bottom_prev, 0);
    EXPECT_NE(far_copy.y, 225.0f);
}

TEST(PanSweep, BallSweptFromAboveKeepsItsDistanceFromTheFace)
{
    // lifting the pan 10 px sweeps a ball resting 5 px above the old face
    // (but under the new one) along with it, 5 px out from the new face
    still_pan_at(320, 240);
    move_pointer(0, -10);
    Ball b = make_ball(320, 217.19f, 0.0f, 0.0f, 1);
    collide_ball_with_segment(b, pan_bottom, pan_bottom_prev, 0);
    EXPECT_NEAR(b.y, 212.19f - 5.0f, 0.02f);
}

TEST(PanSweep, UnplacedPanHoldsNothing)
{
    zero_segments();
    pan.vel = Vec2{-320.0f, -240.0f};
    Ball b = make_ball(100, 100, 1.0f, 1.0f, 0);
    collide_ball_with_segment(b, pan_bottom, pan_bottom_prev, 0);
    EXPECT_EQ(b.x, 100.0f);
    EXPECT_EQ(b.vx, 1.0f);

    // a game's very first step with balls but no pan update yet
    clear_balls();
    game_state = STATE_PLAYING;
    pace = 20000;
    add_ball(0, 0, 0, 0, 1, 1);
    add_ball(300, 200, 0, 0, 2, 2);
    update_balls();
    for (const Ball& x : balls) {
        if (x.colour == -1)
            continue;
        EXPECT_TRUE(std::isfinite(x.x) && std::isfinite(x.y));
        EXPECT_TRUE(std::isfinite(x.vx) && std::isfinite(x.vy));
    }
}

TEST(PanSweep, FirstGameStartsFromAnEmptyPreviousPan)
{
    // the update after the first has zero previous segments: a ball in the
    // region between the origin and the new face is carried to the face
    zero_segments();
    mouse_speed = 1.0f;
    pointer_x = 320;
    pointer_y = 240;
    reset_pan();
    move_pointer(0, 0);
    ASSERT_GT(pan_bottom.edge1_len, 0.0f);
    Ball b = make_ball(200, 200, 0.0f, 0.0f, 0);
    collide_ball_with_segment(b, pan_bottom, pan_bottom_prev, 0);
    EXPECT_TRUE(std::isfinite(b.x) && std::isfinite(b.y));
    EXPECT_TRUE(std::isfinite(b.vx) && std::isfinite(b.vy));
}
