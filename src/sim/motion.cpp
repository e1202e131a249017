// Ball motion: gravity, ball against ball, the pan, the edges of the
// playfield, catches at the right edge and the miss at the bottom.
#include "sim/motion.h"

#include <cmath>
#include <cstdlib>

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

// Ball a (already moved this step) against ball b (not yet moved).
inline void collide_pair(Ball& a, Ball& b)
{
    Vec2 d{a.x - b.x, a.y - b.y};
    float s = a.radius + b.radius;
    // Cheap exact reject: a gap of more than a pixel on either axis keeps
    // the squared distance well above s * s.
    float reach = s + 1.0f;
    if (!(std::fabs(d.x) <= reach && std::fabs(d.y) <= reach))
        return;
    float dist2 = d.x * d.x + d.y * d.y;
    if (dist2 > s * s)
        return;   // touching counts as a collision

    // Swap the velocity components along the line of centres, each cut to
    // 0.8 and weighted by the ratio of the radii.
    Vec2 va{a.vx, a.vy};
    Vec2 vb{b.vx, b.vy};
    Vec2 pa = vec_project(va, d);
    vec_sub(va, pa);
    Vec2 pb = vec_project(vb, d);
    vec_sub(vb, pb);
    vec_scale(pa, a.radius * TRANSFER / b.radius);
    vec_scale(pb, b.radius * TRANSFER / a.radius);
    vec_add(vb, pa);
    vec_add(va, pb);
    a.vx = va.x;
    a.vy = va.y;
    b.vx = vb.x;
    b.vy = vb.y;

    // Two balls on exactly the same spot have no line of centres to push
    // along: they stay where they are.
    if (dist2 == 0.0f)
        return;

    // Push both apart from their midpoint until they just touch.
    float k = (float)(((double)s / std::sqrt((double)dist2)) * 0.5);
    vec_scale(d, k);
    Vec2 mid{a.x, a.y};
    vec_add(mid, Vec2{b.x, b.y});
    vec_scale(mid, 0.5f);
    b.x = mid.x - d.x;
    b.y = mid.y - d.y;
    a.x = mid.x + d.x;
    a.y = mid.y + d.y;
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

    for (int i = 0; i < MAX_BALLS; i++) {
        Ball& b = balls[i];
        if (b.colour == -1)
            continue;

        b.vy = b.vy + gravity[b.colour];
        b.y = b.y + b.vy;
        b.x = b.x + b.vx;

        for (int j = i + 1; j < MAX_BALLS; j++) {
            if (balls[j].colour != -1)
                collide_pair(b, balls[j]);
        }

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
                if (b.y > BOTTOM)
                    miss_ball(b.x, b.y);   // the splash may reuse this slot
            }
        } else if (b.y > BOTTOM) {
            b.colour = -1;
        }
    }

    tick_combo();
}

} // namespace kiv
