#include "bot.h"

#include <cmath>

#include "frame/game.h"
#include "media/draw.h"
#include "sim/balls.h"
#include "sim/pan.h"

namespace kiv {

// Relative motion that brings the game pointer to (x, y), at most `limit`
// pixels of pointer travel per step.
static StepInput move_towards(float x, float y, int buttons, float limit = 60.0f)
{
    float dx = x - static_cast<float>(pointer_x);
    float dy = y - static_cast<float>(pointer_y);
    if (dx > limit) dx = limit;
    if (dx < -limit) dx = -limit;
    if (dy > limit) dy = limit;
    if (dy < -limit) dy = -limit;
    return StepInput{static_cast<int>(dx / mouse_speed), static_cast<int>(dy / mouse_speed), buttons};
}

// The ball the pan should go for: the lowest one still falling towards the
// pan's height, left of the catch line.
static int ball_to_catch()
{
    int best = -1;
    float best_y = -1e9f;
    for (int i = 0; i < MAX_BALLS; i++) {
        const Ball& b = balls[i];
        if (b.colour < 0 || b.x > 560.0f)
            continue;
        bool resting = std::fabs(b.x - pan.pos.x) < 60.0f && b.y > pan.pos.y - 40.0f && b.y < pan.pos.y;
        if (resting || b.y > pan.pos.y + 10.0f)
            continue;
        if (b.y > best_y) {
            best_y = b.y;
            best = i;
        }
    }
    return best;
}

static int balls_in_pan()
{
    int n = 0;
    for (const Ball& b : balls)
        if (b.colour >= 0 && std::fabs(b.x - pan.pos.x) < 60.0f && b.y > pan.pos.y - 40.0f && b.y < pan.pos.y)
            n++;
    return n;
}

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
        return move_towards(520.0f, 316.0f, pointer_x >= 457 && pointer_x <= 585 && pointer_y >= 301 && pointer_y <= 331 ? 1 : 0);
    case STATE_PLAYING: {
        if (bot.kind == BOT_IDLE)
            return StepInput{0, 0, 0};
        if (bot.toss > 0) {
            // A quick sweep to the right and up throws what the pan holds.
            bot.toss--;
            return bot.toss > 4 ? move_towards(pointer_x + 40.0f, pointer_y - 25.0f, 0, 40.0f)
                                : move_towards(pointer_x - 10.0f, pointer_y + 20.0f, 0, 40.0f);
        }
        int i = ball_to_catch();
        if (balls_in_pan() >= 4 || (i < 0 && balls_in_pan() > 0 && pointer_x > 300)) {
            bot.toss = 10;
            return StepInput{0, 0, 0};
        }
        if (i < 0)
            return move_towards(250.0f, 380.0f, 0, 15.0f);
        const Ball& b = balls[i];
        // Aim where the ball will be when it reaches the pan's height.
        float t = (b.vy > 0.2f) ? (380.0f - b.y) / b.vy : 20.0f;
        if (t > 60.0f) t = 60.0f;
        if (t < 0.0f) t = 0.0f;
        float x = b.x + b.vx * t;
        return move_towards(x, 380.0f, 0);
    }
    case STATE_ENDING:
        return StepInput{0, 0, 0};
    case STATE_GAME_OVER:
        // Let the caption fly in, then click.
        return StepInput{0, 0, game_over_timer > 100 ? 1 : 0};
    }
    return StepInput{0, 0, 0};
}

} // namespace kiv
