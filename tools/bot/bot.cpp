#include "bot.h"

#include <cmath>

#include "frame/game.h"
#include "media/draw.h"
#include "replay/run.h"
#include "sim/balls.h"
#include "sim/motion.h"
#include "sim/pan.h"

namespace kiv {

namespace {

// Where the pan waits and carries its load.
// Low in the damping zone, where balls settle in the pan instead of bouncing
// out of it.
constexpr float PAN_Y = 440.0f;
// Pointer travel per step with a load: faster throws balls out of the pan.
constexpr float CARRY = 10.0f;
// The inner face of a level pan lies 17.8 px above its centre, and its walls
// 48 px either side.
constexpr float FACE = 17.8f;
constexpr float HALF = 48.0f;
// Beyond this x the pan's load is over the catch line.
constexpr float DUMP_X = 634.0f;

// Relative motion that brings the game pointer to (x, y), at most `limit`
// pixels of pointer travel per step.
StepInput move_towards(float x, float y, int buttons, float limit)
{
    float dx = x - static_cast<float>(pointer_x);
    float dy = y - static_cast<float>(pointer_y);
    dx = dx > limit ? limit : (dx < -limit ? -limit : dx);
    dy = dy > limit ? limit : (dy < -limit ? -limit : dy);
    return StepInput{static_cast<int>(std::lround(dx / mouse_speed)), static_cast<int>(std::lround(dy / mouse_speed)),
                     buttons};
}

bool in_pan(const Ball& b)
{
    return b.colour >= 0 && std::fabs(b.x - pan.pos.x) < HALF + 6.0f && b.y > pan.pos.y - FACE - 45.0f &&
           b.y < pan.pos.y + 5.0f;
}

int held_balls()
{
    int n = 0;
    for (const Ball& b : balls)
        if (in_pan(b))
            n++;
    return n;
}

// Follows a free ball until its centre comes down to height y; returns the
// number of steps (a large number when it never does) and its x then.
int arrival(const Ball& ball, float y, float& x)
{
    float bx = ball.x, by = ball.y, vx = ball.vx, vy = ball.vy;
    float g = gravity[ball.colour];
    for (int t = 1; t < 800; t++) {
        vy += g;
        by += vy;
        bx += vx;
        if (by < 0.0f) {
            vx *= 0.99f;
            vy *= 0.99f;
        }
        if (bx < 0.0f) {
            bx = 0.0f;
            vx = -0.8f * vx;
        }
        if (bx > 576.0f && by >= 0.0f)
            return 100000;   // leaves to the right by itself: a catch
        if (vy > 0.0f && by >= y) {
            x = bx;
            return t;
        }
    }
    return 100000;
}

// The free ball that reaches the pan's height first, with where it will be.
int next_arrival(float& x, int& when)
{
    int best = -1;
    when = 100000;
    for (int i = 0; i < MAX_BALLS; i++) {
        const Ball& b = balls[i];
        if (b.colour < 0 || in_pan(b))
            continue;
        float bx = 0.0f;
        int t = arrival(b, PAN_Y - FACE, bx);
        if (t < when) {
            when = t;
            x = bx;
            best = i;
        }
    }
    return best;
}

} // namespace

StepInput bot_input(Bot& bot)
{
    bot.step++;
    switch (game_state) {
    case STATE_TITLE:
        // Over the Start button, then hold the left button.
        if (bot.wait_title > 0) {
            bot.wait_title--;
            return move_towards(520.0f, 316.0f, 0, 20.0f);
        }
        return move_towards(520.0f, 316.0f,
                            pointer_x >= 457 && pointer_x <= 585 && pointer_y >= 301 && pointer_y <= 331 ? 1 : 0,
                            20.0f);
    case STATE_PLAYING: {
        if (bot.kind == BOT_IDLE)
            return StepInput{0, 0, 0};
        int held = held_balls();
        float x = 0.0f;
        int when = 0;
        next_arrival(x, when);
        float speed = held > 0 ? CARRY : 30.0f;
        // Time to carry the load out and come back for the next ball.
        float trip = (DUMP_X - pan.pos.x) / CARRY + (DUMP_X - (x < 48.0f ? 48.0f : x)) / 30.0f + 20.0f;
        if (bot.toss > 0 || (held >= bot.load && when > trip) || (held > 0 && when > trip + 150.0f)) {
            // Carry the load to the right until it has crossed the catch line.
            bot.toss = held > 0 ? 1 : 0;
            return move_towards(DUMP_X, PAN_Y, 0, speed);
        }
        if (when >= 100000)
            return move_towards(pan.pos.x, PAN_Y, 0, speed);
        // Meet the ball with the middle of the pan.
        float target = x < HALF ? HALF : (x > 560.0f ? 560.0f : x);
        return move_towards(target, PAN_Y, 0, speed);
    }
    case STATE_ENDING:
        return StepInput{0, 0, 0};
    case STATE_GAME_OVER:
        // Let the caption fly in, then click.
        return StepInput{0, 0, game_over_timer > 100 ? 1 : 0};
    }
    return StepInput{0, 0, 0};
}

void record_step_input(const StepInput& in, StepInput* input)
{
    replay.input[replay_run.step] = in;
    input->dx += in.dx;
    input->dy += in.dy;
    input->buttons = in.buttons;
}

} // namespace kiv
