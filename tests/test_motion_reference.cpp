// The fast paths of the ball step (the four-at-a-time pair test, the quick
// look that leaves out balls far from the pan) against plain versions that
// test every pair and every ball in full: the results must agree bit for bit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "frame/game.h"
#include "media/draw.h"
#include "media/input.h"
#include "sim/balls.h"
#include "sim/motion.h"
#include "sim/pan.h"
#include "sim/scoring.h"
#include "sim/vec.h"

using namespace kiv;

namespace {

// Ball i (moved) against ball j, every step written out with the vector helpers.
void plain_pair(Ball& a, Ball& b)
{
    Vec2 d{a.x - b.x, a.y - b.y};
    float s = a.radius + b.radius;
    if (d.x * d.x + d.y * d.y > s * s)
        return;
    Vec2 va{a.vx, a.vy}, vb{b.vx, b.vy};
    Vec2 pa = vec_project(va, d);
    vec_sub(va, pa);
    Vec2 pb = vec_project(vb, d);
    vec_sub(vb, pb);
    vec_scale(pa, a.radius * 0.8f / b.radius);
    vec_scale(pb, b.radius * 0.8f / a.radius);
    vec_add(vb, pa);
    vec_add(va, pb);
    a.vx = va.x; a.vy = va.y; b.vx = vb.x; b.vy = vb.y;
    float dist2 = d.x * d.x + d.y * d.y;
    if (dist2 == 0.0f)
        return;
    float k = (float)(((double)s / std::sqrt((double)dist2)) * 0.5);
    vec_scale(d, k);
    Vec2 mid{a.x, a.y};
    vec_add(mid, Vec2{b.x, b.y});
    vec_scale(mid, 0.5f);
    b.x = mid.x - d.x; b.y = mid.y - d.y;
    a.x = mid.x + d.x; a.y = mid.y + d.y;
}

// The title step of every ball: motion, pairs, drag, the ceiling, removal.
void plain_title_step(Ball* bs)
{
    float g[3];
    for (int c = 0; c < 3; c++)
        g[c] = gravity_base[c] * (float)pace / 20000.0f;
    for (int i = 0; i < MAX_BALLS; i++) {
        Ball& b = bs[i];
        if (b.colour == -1)
            continue;
        b.vy = b.vy + g[b.colour];
        b.y = b.y + b.vy;
        b.x = b.x + b.vx;
        for (int j = i + 1; j < MAX_BALLS; j++)
            if (bs[j].colour != -1)
                plain_pair(b, bs[j]);
        if (b.y < 0.0f) {
            b.vx = b.vx * 0.99f;
            if (b.y >= -480.0f) {
                b.vy = b.vy * 0.99f;
            } else {
                b.y = -480.0f;
                b.vy = 0.0f;
            }
        }
        if (b.x > 576.0f) {
            if (b.y >= 0.0f) {
                b.colour = -1;
            } else {
                b.x = 576.0f;
                b.vx = b.vx * -0.8f;
            }
        }
        if (b.y > 480.0f)
            b.colour = -1;
    }
}

// The pan test with every side test and both lengths taken for every ball.
void plain_segment(Ball& b, const PanSegment& s, const PanSegment& p, int kind)
{
    if (!(s.edge1_len > 0.0f) || !(s.edge2_len > 0.0f))
        return;
    Vec2 ball{b.x, b.y};
    if (!(vec_side(ball, s.p0, s.p1) <= 0.0f))
        return;
    if (!(vec_side(ball, p.p2, p.p3) >= 0.0f || vec_side(ball, s.p2, s.p3) >= 0.0f))
        return;
    auto ordered = [kind](const Vec2& old, const Vec2& now, Vec2& first, Vec2& second) {
        bool now_first = kind == 0 ? now.y < old.y : kind == 1 ? now.x > old.x : now.x < old.x;
        first = now_first ? now : old;
        second = now_first ? old : now;
    };
    Vec2 u0, u1, v0, v1;
    ordered(p.p2, s.p0, u0, u1);
    ordered(p.p3, s.p1, v0, v1);
    if (!(vec_side(ball, v0, v1) <= 0.0f) || !(vec_side(ball, u0, u1) >= 0.0f))
        return;
    Vec2 r = ball;
    vec_sub(r, p.p0);
    float l1 = vec_length(vec_project(r, p.edge1));
    if (l1 > s.edge1_len)
        return;
    float l2 = vec_length(vec_project(r, p.edge2));
    if (l2 > s.edge2_len)
        return;
    Vec2 e1 = s.edge1;
    vec_scale(e1, l1 / s.edge1_len);
    Vec2 pos = s.p0;
    vec_add(pos, e1);
    if (r.y < 0.0f) {
        Vec2 e2 = s.edge2;
        vec_scale(e2, l2 / s.edge2_len);
        vec_add(pos, e2);
    }
    b.x = pos.x;
    b.y = pos.y;
    Vec2 v{b.vx, b.vy};
    Vec2 q = vec_project(v, s.edge2);
    vec_scale(q, 1.2f);
    vec_sub(v, q);
    Vec2 k = pan.vel;
    vec_scale(k, -2.0f / (b.radius * 0.5f));
    if (k.y > 0.0f)
        k.y = 0.0f;
    k.x = k.x * 0.5f;
    vec_add(v, k);
    b.vx = v.x;
    b.vy = v.y;
}

bool same_bits(const Ball& a, const Ball& b)
{
    if (a.colour != b.colour)
        return false;
    if (a.colour == -1)
        return true;
    return std::memcmp(&a, &b, sizeof a) == 0;
}

} // namespace

TEST(FastPaths, CrowdedBallsMatchThePlainPairTest)
{
    std::mt19937 gen(2024);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    long touching_pairs = 0;
    for (int round = 0; round < 300; round++) {
        clear_balls();
        game_state = STATE_TITLE;
        pace = 20000 + (int)(unit(gen) * 100000.0f);
        // a crowd in a box whose size varies from a tight heap to a loose one
        float w = 40.0f + unit(gen) * 400.0f;
        int n = 20 + (int)(unit(gen) * 76.0f);
        for (int i = 0; i < n; i++) {
            float x = 100.0f + unit(gen) * w;
            float y = -100.0f + unit(gen) * w;
            if (i > 0 && unit(gen) < 0.05f) {   // now and then right on top of another
                x = balls[ball_cursor].x;
                y = balls[ball_cursor].y;
            }
            add_ball(x, y, unit(gen) * 4.0f - 2.0f, unit(gen) * 4.0f - 2.0f, (int)(unit(gen) * 3.0f) % 3,
                     (int)(unit(gen) * 3.0f) % 3);
        }
        for (int i = 0; i < MAX_BALLS; i++)   // scattered holes
            if (unit(gen) < 0.1f)
                balls[i].colour = -1;
        for (int i = 0; i < MAX_BALLS; i++)
            for (int j = i + 1; j < MAX_BALLS; j++) {
                const Ball& a = balls[i];
                const Ball& b = balls[j];
                float dx = a.x - b.x, dy = a.y - b.y, s = a.radius + b.radius;
                touching_pairs += a.colour != -1 && b.colour != -1 && dx * dx + dy * dy <= s * s;
            }
        for (int step = 0; step < 5; step++) {
            Ball plain[MAX_BALLS];
            std::memcpy(plain, balls, sizeof balls);
            plain_title_step(plain);
            update_balls();
            for (int i = 0; i < MAX_BALLS; i++) {
                ASSERT_TRUE(same_bits(plain[i], balls[i])) << "round " << round << " step " << step
                                                           << " slot " << i;
            }
        }
    }
    EXPECT_GT(touching_pairs, 10000);
}

TEST(FastPaths, PanTestMatchesThePlainOneAroundAMovingPan)
{
    std::mt19937 gen(77);
    std::uniform_int_distribution<int> jerk(-60, 60);
    std::uniform_real_distribution<float> around(-200.0f, 200.0f);
    mouse_speed = 1.0f;
    pointer_x = 320;
    pointer_y = 300;
    reset_pan();
    long hits = 0;
    for (int update = 0; update < 400; update++) {
        step_input = StepInput{jerk(gen), jerk(gen), 0};
        update_pan();
        const PanSegment* cur[3] = {&pan_bottom, &pan_left_wall, &pan_right_wall};
        const PanSegment* old[3] = {&pan_bottom_prev, &pan_left_wall_prev, &pan_right_wall_prev};
        for (int n = 0; n < 300; n++) {
            int kind = n % 3;
            Ball b{};
            b.x = pan.pos.x + around(gen) * (n % 2 ? 0.3f : 1.0f);
            b.y = pan.pos.y + around(gen) * (n % 2 ? 0.3f : 1.0f);
            b.vx = 1.5f;
            b.vy = 2.5f;
            b.size = n % 3;
            b.radius = radius_by_size[b.size];
            b.colour = 1;
            Ball plain = b;
            collide_ball_with_segment(b, *cur[kind], *old[kind], kind);
            plain_segment(plain, *cur[kind], *old[kind], kind);
            ASSERT_EQ(std::memcmp(&b, &plain, sizeof b), 0) << "update " << update << " ball " << n;
            hits += b.vx != 1.5f || b.vy != 2.5f;
        }
    }
    EXPECT_GT(hits, 1000);
}
