// Cost of the simulation step: update_balls with the whole ball array piled
// into the pan (every pair close enough to need the full test), and a whole
// playing step on the same state. The state is restored before every call.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>

#include "events/spawner.h"
#include "events/events.h"
#include "frame/game.h"
#include "media/draw.h"
#include "media/input.h"
#include "sim/balls.h"
#include "sim/motion.h"
#include "sim/pan.h"
#include "sim/scoring.h"

using namespace kiv;

namespace {

struct Snapshot {
    Ball balls[MAX_BALLS];
    int ball_cursor;
    Pan pan;
    PanSegment seg[6];
    ScorePopup popups[MAX_POPUPS];
    int popup_cursor, multiplier, last_multiplier, combo_timer;
    int game_state, score, shown_score, next_milestone, pace, spawn_timer, event_pressure;
    int pointer_x, pointer_y;
    float miss_x;
};

PanSegment* const segments[6] = {&pan_bottom, &pan_left_wall, &pan_right_wall,
                                  &pan_bottom_prev, &pan_left_wall_prev, &pan_right_wall_prev};

void save(Snapshot& s)
{
    std::memcpy(s.balls, balls, sizeof balls);
    s.ball_cursor = ball_cursor;
    s.pan = pan;
    for (int k = 0; k < 6; k++)
        s.seg[k] = *segments[k];
    std::memcpy(s.popups, popups, sizeof popups);
    s.popup_cursor = popup_cursor;
    s.multiplier = multiplier;
    s.last_multiplier = last_multiplier;
    s.combo_timer = combo_timer;
    s.game_state = game_state;
    s.score = score;
    s.shown_score = shown_score;
    s.next_milestone = next_milestone;
    s.pace = pace;
    s.spawn_timer = spawn_timer;
    s.event_pressure = event_pressure;
    s.pointer_x = pointer_x;
    s.pointer_y = pointer_y;
    s.miss_x = miss_x;
}

void restore(const Snapshot& s)
{
    std::memcpy(balls, s.balls, sizeof balls);
    ball_cursor = s.ball_cursor;
    pan = s.pan;
    for (int k = 0; k < 6; k++)
        *segments[k] = s.seg[k];
    std::memcpy(popups, s.popups, sizeof popups);
    popup_cursor = s.popup_cursor;
    multiplier = s.multiplier;
    last_multiplier = s.last_multiplier;
    combo_timer = s.combo_timer;
    game_state = s.game_state;
    score = s.score;
    shown_score = s.shown_score;
    next_milestone = s.next_milestone;
    pace = s.pace;
    spawn_timer = s.spawn_timer;
    event_pressure = s.event_pressure;
    pointer_x = s.pointer_x;
    pointer_y = s.pointer_y;
    miss_x = s.miss_x;
    step_input = StepInput{0, 0, 0};
}

// A still, level pan at (320, 300) and 96 balls of mixed sizes piled into it
// and above it, 11 px apart, so that nearly every ball overlaps several others.
void make_pile(Snapshot& s, bool jerk)
{
    srand(1);
    mouse_speed = 1.0f;
    pointer_x = 320;
    pointer_y = 300;
    new_game();
    pan.pos = Vec2{320.0f, 300.0f};
    pan.tilt = 0.0f;
    step_input = StepInput{0, 0, 0};
    update_pan();
    update_pan();
    if (jerk) {   // a sharp lift and a sideways flick: every ball is kicked
        step_input = StepInput{12, -15, 0};
        update_pan();
    }
    ball_cursor = MAX_BALLS;
    for (int i = 0; i < MAX_BALLS; i++) {
        float x = 284.0f + (float)(i % 8) * 11.0f;
        float y = 280.0f - (float)(i / 8) * 11.0f;
        add_ball(x, y, 0.1f * (float)(i % 5 - 2), 0.5f, i % 3, (i / 3) % 3);
    }
    pace = 40000;
    spawn_timer = 5;
    event_pressure = 100;
    save(s);
    srand(7);
}

// The machine is shared, so the figures to read are the CPU times; the
// restore of the state (BM_RestoreOnly) is included in every one of them.
template <class F>
void timed_steps(benchmark::State& state, const Snapshot& s, F step)
{
    for (auto _ : state) {
        restore(s);
        step();
        benchmark::ClobberMemory();
    }
}

void BM_RestoreOnly(benchmark::State& state)
{
    Snapshot s;
    make_pile(s, false);
    timed_steps(state, s, [] {});
}
BENCHMARK(BM_RestoreOnly);

void BM_UpdateBalls_Pile(benchmark::State& state)
{
    Snapshot s;
    make_pile(s, state.range(0) != 0);
    timed_steps(state, s, [] { update_balls(); });
}
BENCHMARK(BM_UpdateBalls_Pile)->Arg(0)->Arg(1);

void BM_PlayingStep_Pile(benchmark::State& state)
{
    Snapshot s;
    make_pile(s, state.range(0) != 0);
    timed_steps(state, s, [] {
        update_spawner();
        update_popups();
        update_balls();
        update_pan();
        update_events();
        count_up_score();
    });
}
BENCHMARK(BM_PlayingStep_Pile)->Arg(0)->Arg(1);

// The pile after it has had 30 steps to settle: most pairs now merely touch.
void BM_UpdateBalls_SettledPile(benchmark::State& state)
{
    Snapshot s;
    make_pile(s, false);
    for (int i = 0; i < 30 && game_state == STATE_PLAYING; i++) {
        update_balls();
        update_pan();
    }
    game_state = STATE_PLAYING;
    save(s);
    timed_steps(state, s, [] { update_balls(); });
}
BENCHMARK(BM_UpdateBalls_SettledPile);

// 96 balls spread over the playfield, hardly any touching: the pair test's
// cheap reject at work.
void BM_UpdateBalls_Spread(benchmark::State& state)
{
    Snapshot s;
    make_pile(s, false);
    for (int i = 0; i < MAX_BALLS; i++) {
        balls[i].x = 10.0f + (float)(i % 12) * 46.0f;
        balls[i].y = -400.0f + (float)(i / 12) * 60.0f;
    }
    save(s);
    timed_steps(state, s, [] { update_balls(); });
}
BENCHMARK(BM_UpdateBalls_Spread);

void BM_UpdatePan(benchmark::State& state)
{
    Snapshot s;
    make_pile(s, false);
    timed_steps(state, s, [] {
        step_input = StepInput{3, -2, 0};
        update_pan();
    });
}
BENCHMARK(BM_UpdatePan);

} // namespace
