// Ball motion: gravity, ball against ball, the pan, the edges of the
// playfield, catches at the right edge and the miss at the bottom.
#include "sim/motion.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "frame/game.h"
#include "media/sound.h"
#include "sim/balls.h"
#include "sim/pan.h"
#include "sim/scoring.h"
#include "sim/vec.h"

namespace kiv {

float gravity[3];
float miss_x;

namespace {

constexpr float PACE_DIVISOR = 20000.0f;
constexpr float TRANSFER = 0.8f;
constexpr float AIR_DRAG = 0.99f;
constexpr float CEILING = -480.0f;
constexpr float WALL_BOUNCE = -0.8f;
constexpr float RIGHT_EDGE = 576.0f;
constexpr float DAMPING_ZONE = 360.0f;
constexpr float FAST_FALL = 2.0f;
constexpr float BOTTOM = 480.0f;
constexpr float DRIFT = 0.003f;
constexpr float LIFT = 0.3f;
constexpr int SPLASH_COUNT = 32;
constexpr int SPLASH_SPREAD = 32;
constexpr float SPLASH_SPEED = 0.1f;

// The share of the normal speed one ball hands to the other, by the sizes of
// the giver and the taker: giver radius * 0.8 / taker radius.
struct TransferTable {
    float share[3][3];
    TransferTable()
    {
        for (int g = 0; g < 3; g++)
            for (int t = 0; t < 3; t++)
                share[g][t] = radius_by_size[g] * TRANSFER / radius_by_size[t];
    }
};
const TransferTable transfer;

// Ball a (already moved this step) against ball b (not yet moved), which are
// known to touch or overlap: d = a - b, dist2 = d.x * d.x + d.y * d.y.
inline void push_apart(Ball& a, Ball& b, Vec2 d, float dist2)
{
    // Swap the velocity components along the line of centres, each cut to
    // 0.8 and weighted by the ratio of the radii.
    Vec2 pa{0.0f, 0.0f};
    Vec2 pb{0.0f, 0.0f};
    if (dist2 != 0.0f) {
        float ta = a.vx * d.x + a.vy * d.y;
        float tb = b.vx * d.x + b.vy * d.y;
        pa = Vec2{d.x * ta / dist2, d.y * ta / dist2};
        pb = Vec2{d.x * tb / dist2, d.y * tb / dist2};
    }
    float share_a = transfer.share[a.size][b.size];
    float share_b = transfer.share[b.size][a.size];
    float avx = (a.vx - pa.x) + pb.x * share_b;
    float avy = (a.vy - pa.y) + pb.y * share_b;
    float bvx = (b.vx - pb.x) + pa.x * share_a;
    float bvy = (b.vy - pb.y) + pa.y * share_a;
    a.vx = avx;
    a.vy = avy;
    b.vx = bvx;
    b.vy = bvy;

    // Two balls on exactly the same spot have no line of centres to push
    // along: they stay where they are.
    if (dist2 == 0.0f)
        return;

    // Push both apart from their midpoint until they just touch.
    float s = a.radius + b.radius;
    // (s / root) * 0.5 and (s * 0.5) / root round alike: halving is exact
    float k = (float)(((double)s * 0.5) / std::sqrt((double)dist2));
    float hx = d.x * k;
    float hy = d.y * k;
    float mx = (a.x + b.x) * 0.5f;
    float my = (a.y + b.y) * 0.5f;
    b.x = mx - hx;
    b.y = my - hy;
    a.x = mx + hx;
    a.y = my + hy;
}

// Do the two balls touch or overlap? d = a - b and its squared length.
inline bool touching(const Ball& a, const Ball& b, Vec2& d, float& dist2)
{
    d = Vec2{a.x - b.x, a.y - b.y};
    float s = a.radius + b.radius;
    dist2 = d.x * d.x + d.y * d.y;
    return !(dist2 > s * s);   // touching counts as a collision
}

// Positions of the balls in later slots, kept beside the records so that
// the pair test can look at four slots at once. A free slot holds NaN,
// which never passes the test.
alignas(16) float near_x[MAX_BALLS];
alignas(16) float near_y[MAX_BALLS];
alignas(16) float near_r[MAX_BALLS];

void fill_positions()
{
    const float none = std::numeric_limits<float>::quiet_NaN();
    for (int j = 0; j < MAX_BALLS; j++) {
        const Ball& b = balls[j];
        near_x[j] = b.colour == -1 ? none : b.x;
        near_y[j] = b.y;
        near_r[j] = b.radius;
    }
}

// Ball i against every later ball in use, in slot order; each collision
// moves ball i, and the later slots are tested from its new position.
void collide_with_later(int i)
{
    Ball a = balls[i];   // kept apart from the array while it is pushed around
    int j = i + 1;
#if defined(__SSE2__)
    while (j < MAX_BALLS) {
        int block = j & ~3;
        __m128 ax = _mm_set1_ps(a.x);
        __m128 ay = _mm_set1_ps(a.y);
        __m128 ar = _mm_set1_ps(a.radius);
        int found = -1;
        for (; block < MAX_BALLS; block += 4) {
            // the same single-precision arithmetic as the scalar test
            __m128 dx = _mm_sub_ps(ax, _mm_load_ps(near_x + block));
            __m128 dy = _mm_sub_ps(ay, _mm_load_ps(near_y + block));
            __m128 s = _mm_add_ps(ar, _mm_load_ps(near_r + block));
            __m128 d2 = _mm_add_ps(_mm_mul_ps(dx, dx), _mm_mul_ps(dy, dy));
            int mask = _mm_movemask_ps(_mm_cmple_ps(d2, _mm_mul_ps(s, s)));
            if (block < j)
                mask &= ~((1 << (j - block)) - 1);
            if (mask) {
                found = block + __builtin_ctz((unsigned)mask);
                break;
            }
        }
        if (found < 0)
            break;
        Ball& b = balls[found];
        Vec2 d;
        float dist2;
        if (touching(a, b, d, dist2)) {
            push_apart(a, b, d, dist2);
            near_x[found] = b.x;
            near_y[found] = b.y;
        }
        j = found + 1;
    }
#else
    for (; j < MAX_BALLS; j++) {
        Ball& b = balls[j];
        if (b.colour == -1)
            continue;
        Vec2 d;
        float dist2;
        if (touching(a, b, d, dist2))
            push_apart(a, b, d, dist2);
    }
#endif
    balls[i] = a;
}

// The lost ball: play ends, the music stops and a splash of small red balls
// bursts from where it fell out.
void miss_ball(float x, float y)
{
    game_state = STATE_ENDING;
    miss_x = x;
    stop_music();
    request_effect(EFFECT_MISS);
    for (int n = 0; n < SPLASH_COUNT; n++) {
        int sign_x = rand();
        int off_x = rand() % SPLASH_SPREAD;
        int off_y = rand() % SPLASH_SPREAD;
        int sign_vx = rand();
        int mag_vx = rand() % SPLASH_SPREAD;
        int sign_vy = rand();
        int mag_vy = rand() % SPLASH_SPREAD;
        float bx = (sign_x & 1) ? x + (float)off_x : x - (float)off_x;
        float by = y - (float)off_y;
        float bvx = (float)mag_vx * SPLASH_SPEED;
        if (!(sign_vx & 1))
            bvx = -bvx;
        float bvy = (float)mag_vy * SPLASH_SPEED;
        if (!(sign_vy & 1))
            bvy = -bvy;
        add_ball(bx, by, bvx, bvy, 0, 0);
    }
}

} // namespace

void update_balls()
{
    for (int c = 0; c < 3; c++)
        gravity[c] = gravity_base[c] * (float)pace / PACE_DIVISOR;
    fill_positions();

    for (int i = 0; i < MAX_BALLS; i++) {
        Ball& b = balls[i];
        if (b.colour == -1)
            continue;

        b.vy = b.vy + gravity[b.colour];
        b.y = b.y + b.vy;
        b.x = b.x + b.vx;

        collide_with_later(i);

        if (game_state == STATE_ENDING) {
            b.vx = b.vx + (b.x - miss_x) * DRIFT;
            b.vy = b.vy - LIFT;
        } else if (game_state == STATE_PLAYING) {
            collide_ball_with_segment(b, pan_bottom, pan_bottom_prev, 0);
            collide_ball_with_segment(b, pan_left_wall, pan_left_wall_prev, 1);
            collide_ball_with_segment(b, pan_right_wall, pan_right_wall_prev, 2);
        }

        if (b.y < 0.0f) {
            b.vx = b.vx * AIR_DRAG;
            if (b.y >= CEILING) {
                b.vy = b.vy * AIR_DRAG;
            } else {
                b.y = CEILING;
                b.vy = 0.0f;
            }
        }

        if (b.x < 0.0f && game_state == STATE_PLAYING) {
            b.x = 0.0f;
            b.vx = b.vx * WALL_BOUNCE;
        }

        if (b.x > RIGHT_EDGE) {
            if (b.y >= 0.0f) {
                if (game_state == STATE_PLAYING)
                    catch_ball(b);
                else
                    b.colour = -1;
            } else {
                b.x = RIGHT_EDGE;
                b.vx = b.vx * WALL_BOUNCE;
            }
        }

        if (game_state == STATE_PLAYING) {
            // also for a ball just caught: it can end play in the same step
            if (b.y > DAMPING_ZONE) {
                if (b.vy > FAST_FALL)
                    b.vy = b.vy * 0.8f;
                b.vy = b.vy * 0.95f;
                b.vx = b.vx * 0.99f;
                if (b.y > BOTTOM) {
                    miss_ball(b.x, b.y);   // the splash may reuse this slot
                    fill_positions();
                }
            }
        } else if (b.y > BOTTOM) {
            b.colour = -1;
        }
    }

    tick_combo();
}

} // namespace kiv
