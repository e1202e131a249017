// Long random games driven through the playing step: whatever the pointer
// does and however high the pace climbs, the records stay sound.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>

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

bool finite(float f) { return std::isfinite(f); }

bool finite(const Vec2& v) { return finite(v.x) && finite(v.y); }

bool finite(const PanSegment& s)
{
    return finite(s.p0) && finite(s.p1) && finite(s.p2) && finite(s.p3) && finite(s.start) &&
           finite(s.end) && finite(s.edge1) && finite(s.edge2) && finite(s.edge1_len) &&
           finite(s.edge2_len);
}

struct Stats {
    long steps = 0;
    long caught = 0;
    long missed = 0;
    long pan_hits = 0;
    long max_balls = 0;
};

// Every ball record in use is whole and finite.
void check_balls(const char* where, long step)
{
    for (int i = 0; i < MAX_BALLS; i++) {
        const Ball& b = balls[i];
        if (b.colour == -1)
            continue;
        ASSERT_TRUE(finite(b.x) && finite(b.y) && finite(b.vx) && finite(b.vy))
            << where << " step " << step << " slot " << i << ": " << b.x << ", " << b.y << ", "
            << b.vx << ", " << b.vy;
        ASSERT_TRUE(b.colour >= 0 && b.colour <= 2) << where << " step " << step;
        ASSERT_TRUE(b.size >= 0 && b.size <= 2) << where << " step " << step;
        ASSERT_EQ(b.radius, radius_by_size[b.size]) << where << " step " << step;
        ASSERT_EQ(b.image, (2 - b.colour) * 3 + b.size) << where << " step " << step;
    }
}

void check_counters(long step)
{
    ASSERT_TRUE(multiplier >= 1 && multiplier <= 9999) << step;
    ASSERT_TRUE(last_multiplier >= 1 && last_multiplier <= 9999) << step;
    ASSERT_TRUE(combo_timer >= 0 && combo_timer <= 20) << step;
    ASSERT_TRUE(ball_cursor >= 0 && ball_cursor <= MAX_BALLS) << step;
    ASSERT_TRUE(popup_cursor >= 0 && popup_cursor <= MAX_POPUPS) << step;
    ASSERT_TRUE(score >= 0 && score <= SCORE_CAP) << step;
    ASSERT_GE(next_milestone, score) << step;
    ASSERT_EQ(next_milestone % 1000000, 0) << step;
    ASSERT_GE(spawn_timer, -1) << step;
    ASSERT_GT(event_pressure, 0) << step;
    for (const ScorePopup& p : popups) {
        ASSERT_GE(p.life, 0) << step;
        if (p.life > 0) {
            ASSERT_TRUE(p.grow >= 0 && p.grow <= 16) << step;
            ASSERT_TRUE(finite(p.x) && finite(p.y) && finite(p.vx) && finite(p.vy)) << step;
        }
    }
    ASSERT_TRUE(finite(pan.pos) && finite(pan.prev) && finite(pan.vel) && finite(pan.tilt)) << step;
    for (const PanSegment* s : {&pan_bottom, &pan_left_wall, &pan_right_wall, &pan_bottom_prev,
                                &pan_left_wall_prev, &pan_right_wall_prev})
        ASSERT_TRUE(finite(*s)) << step;
}

// The pointer either wanders, jerks, or chases the lowest ball (so that the
// pan catches, holds and throws balls a good part of the time).
void pointer_motion(std::mt19937& gen, int mode)
{
    std::uniform_int_distribution<int> small(-25, 25);
    std::uniform_int_distribution<int> big(-700, 700);
    int dx = small(gen), dy = small(gen);
    if (mode == 1) {
        dx = big(gen);
        dy = big(gen);
    } else if (mode == 2) {
        float lowest = -1e9f, lx = 320.0f;
        for (const Ball& b : balls) {
            if (b.colour != -1 && b.y > lowest && b.y < 470.0f) {
                lowest = b.y;
                lx = b.x;
            }
        }
        if (lowest > -1e9f) {
            dx = std::max(-40, std::min(40, (int)lx - pointer_x));
            dy = std::max(-40, std::min(40, (int)(lowest + 40.0f) - pointer_y));
            if (lowest > 300.0f && std::uniform_int_distribution<int>(0, 3)(gen) == 0)
                dy = -40;   // fling it up and to the right
            if (lowest > 300.0f && std::uniform_int_distribution<int>(0, 3)(gen) == 0)
                dx = 40;
        }
    }
    step_input = StepInput{dx, dy, 0};
}

int used_balls()
{
    int n = 0;
    for (const Ball& b : balls)
        n += b.colour != -1;
    return n;
}

void play(unsigned seed, long steps, Stats& st)
{
    std::mt19937 gen(seed);
    srand(seed);
    mouse_speed = (seed % 2) ? 3.0f : 1.0f;
    pointer_x = 320;
    pointer_y = 240;
    new_game();
    int mode = 0;
    for (long step = 0; step < steps; step++) {
        if (std::uniform_int_distribution<int>(0, 60)(gen) == 0)
            mode = std::uniform_int_distribution<int>(0, 9)(gen) < 2 ? 1 : 2;
        if (mode == 1 && std::uniform_int_distribution<int>(0, 4)(gen) == 0)
            mode = 0;
        pointer_motion(gen, mode);

        int score_before = score;
        update_spawner();
        update_popups();
        update_balls();
        check_balls("after update_balls", step);
        for (const Ball& b : balls) {
            // (a splash lands in slots that this step no longer moves)
            if (b.colour == -1 || game_state == STATE_ENDING)
                continue;
            ASSERT_GE(b.y, -480.0f) << step;
            ASSERT_LE(b.x, 576.0f) << step;
        }
        update_pan();
        update_events();
        count_up_score();
        check_balls("after the step", step);
        check_counters(step);
        if (::testing::Test::HasFatalFailure())
            return;

        st.steps++;
        st.caught += score > score_before;
        st.max_balls = std::max(st.max_balls, (long)used_balls());

        // the difficulty climbs, sometimes in leaps far past a ball per step
        pace = pace + 1;
        if (std::uniform_int_distribution<int>(0, 1500)(gen) == 0)
            pace = std::uniform_int_distribution<int>(20000, 2000000)(gen);

        if (game_state == STATE_ENDING) {
            st.missed++;
            if (std::uniform_int_distribution<int>(0, 1)(gen) == 0) {
                // play on with whatever the splash left
                game_state = STATE_PLAYING;
            } else {
                for (int k = 0; k < 121; k++) {
                    update_balls();
                    count_up_score();
                    check_balls("ending", step);
                    if (::testing::Test::HasFatalFailure())
                        return;
                }
                new_game();
                pace = 20000 + (int)(step % 5) * 300000;
            }
        }
    }
}

} // namespace

TEST(SimProperty, RandomPlayKeepsEveryRecordSound)
{
    Stats st;
    for (unsigned seed : {1u, 2u, 3u, 4u, 5u, 6u}) {
        play(seed, 4000, st);
        if (HasFatalFailure())
            return;
    }
    // the run really exercised what it claims to
    EXPECT_EQ(st.steps, 6 * 4000);
    EXPECT_GT(st.caught, 20);
    EXPECT_GT(st.missed, 5);
    EXPECT_GE(st.max_balls, 60);
}

TEST(SimProperty, SameSeedAndInputGiveTheSameGame)
{
    Ball first[MAX_BALLS];
    int first_score = 0;
    Pan first_pan{};
    for (int run = 0; run < 2; run++) {
        ball_cursor = MAX_BALLS;
        popup_cursor = MAX_POPUPS;
        event_cursor = MAX_EVENTS;
        Stats st;
        play(99, 1500, st);
        if (run == 0) {
            std::memcpy(first, balls, sizeof balls);
            first_score = score;
            first_pan = pan;
        }
    }
    EXPECT_EQ(std::memcmp(first, balls, sizeof balls), 0);
    EXPECT_EQ(first_score, score);
    EXPECT_EQ(std::memcmp(&first_pan, &pan, sizeof pan), 0);
}
