// The rules of the game that a reader should see as numbers, one table per
// rule. Whole games are pinned step by step by the replays; these are the
// cases the recorded games do not reach and the ones worth reading.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "events/events.h"
#include "events/spawner.h"
#include "frame/game.h"
#include "media/draw.h"
#include "media/input.h"
#include "media/sound.h"
#include "sim/balls.h"
#include "sim/motion.h"
#include "sim/pan.h"
#include "sim/scoring.h"
#include "sim/vec.h"
#include "platform/web/glibc_random.h"

using namespace kiv;

namespace {

// An empty playfield in the given state, no gravity, no pan.
void empty_field(int state)
{
    clear_balls();
    clear_popups();
    clear_events();
    ball_cursor = MAX_BALLS;
    game_state = state;
    pace = 0;
    score = 0;
    next_milestone = 1000000;
    std::memset(&pan, 0, sizeof pan);
    for (PanSegment* s : {&pan_bottom, &pan_left_wall, &pan_right_wall, &pan_bottom_prev, &pan_left_wall_prev,
                          &pan_right_wall_prev})
        std::memset(s, 0, sizeof *s);
    std::memset(effect_requested, 0, sizeof effect_requested);
}

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

TEST(Rules, CountUpMovesOnePointAndATwentiethOfTheGap)
{
    struct Row {
        int from, to;
        std::vector<int> first;   // the displayed values of the first steps
        int steps;                // steps until it stops
    } rows[] = {
        {0, 100, {5, 10, 15, 20, 24, 28, 32, 36, 40, 43, 46, 49}, 45},
        {0, 1, {1}, 1},
        {0, 2, {1, 2}, 2},
        {16777216, 16777218, {16777216, 16777216}, -1},   // 16777217 is no float: it stands still
        {100, 100, {100}, 0},
    };
    for (const Row& r : rows) {
        shown_score = r.from;
        score = r.to;
        for (size_t i = 0; i < r.first.size(); i++) {
            effect_requested[EFFECT_SCORE] = 0;
            count_up_score();
            EXPECT_EQ(shown_score, r.first[i]) << r.from << " to " << r.to << ", step " << i + 1;
            EXPECT_EQ(effect_requested[EFFECT_SCORE], r.steps != 0) << "score.wav with every step that counts";
        }
        if (r.steps < 0)
            continue;
        shown_score = r.from;
        int steps = 0;
        for (; shown_score < r.to && steps < 1000; steps++)
            count_up_score();
        EXPECT_EQ(steps, r.steps) << r.from << " to " << r.to;
        EXPECT_EQ(shown_score, r.to);
    }
}

TEST(Rules, EndingLasts121StepsAndOnlyABetterScoreIsTheHighScore)
{
    struct Row {
        int score, high, high_after;
    } rows[] = {{5000000, 4000000, 5000000}, {4000000, 4000000, 4000000}, {0, -1, 0}, {10, 4000000, 4000000}};
    for (const Row& r : rows) {
        game_state = STATE_ENDING;
        end_timer = 0;
        score = r.score;
        shown_score = 0;
        high_score = r.high;
        game_over_timer = 77;
        for (int i = 1; i <= 120; i++) {
            ending_step();
            ASSERT_EQ(game_state, STATE_ENDING) << i;
            ASSERT_EQ(high_score, r.high) << "changed before the end, step " << i;
        }
        ending_step();
        EXPECT_EQ(game_state, STATE_GAME_OVER);
        EXPECT_EQ(game_over_timer, 0);
        EXPECT_EQ(shown_score, r.score);
        EXPECT_EQ(high_score, r.high_after) << r.score << " against " << r.high;
    }
}

TEST(Rules, MultiplierOfConsecutiveCatchesAndPointsBySize)
{
    empty_field(STATE_PLAYING);
    const int want[] = {1, 2, 3, 5, 7, 10, 14, 20, 28, 39, 54, 74, 102, 140, 192, 263, 360, 492, 673, 920};
    int expected_score = 0;
    for (int i = 0; i < 20; i++) {
        EXPECT_EQ(multiplier, want[i]) << "catch " << i + 1;
        Ball b{580.0f, 200.0f, 0, 0, radius_by_size[i % 3], 1, i % 3, 3 + i % 3};
        catch_ball(b);
        expected_score += (3 + i % 3) * want[i];   // 3, 4, 5 points by size
        EXPECT_EQ(score, expected_score);
        EXPECT_EQ(last_multiplier, want[i]);
        EXPECT_EQ(b.colour, -1);
    }
    for (int i = 0; i < 25; i++) {
        Ball b{580.0f, 200.0f, 0, 0, 7.0f, 1, 0, 3};
        catch_ball(b);
    }
    EXPECT_EQ(multiplier, 9999);
    // The combo ends twenty steps after the last catch.
    for (int i = 0; i < 19; i++)
        tick_combo();
    EXPECT_EQ(multiplier, 9999);
    tick_combo();
    EXPECT_EQ(multiplier, 1);
    EXPECT_EQ(last_multiplier, 1);
}

TEST(Rules, ScoreIsCappedAndEachPassedMillionAdvancesTheMusicOnce)
{
    struct Row {
        int score, milestone, points;
        int score_after, milestone_after, advanced;
    } rows[] = {
        {999990, 1000000, 10, 1000000, 1000000, 0},   // exactly on it
        {1000000, 1000000, 1, 1000001, 2000000, 1},
        {1000001, 2000000, 2500000, 3500001, 4000000, 1},   // two millions in one go
        {999999990, 1000000000, 49995, 999999999, 1000000000, 0},
    };
    for (const Row& r : rows) {
        score = r.score;
        next_milestone = r.milestone;
        current_track = 0;
        next_track = 0;
        add_score(r.points);
        EXPECT_EQ(score, r.score_after);
        EXPECT_EQ(next_milestone, r.milestone_after);
        EXPECT_EQ(next_track, r.advanced) << r.score << " + " << r.points;
    }
}

TEST(Rules, PopupsGrowLiveAndShrinkAndTheSeventhReplacesTheOldest)
{
    clear_popups();
    popup_cursor = MAX_POPUPS;
    add_popup(100.0f, 50.0f, -0.5f, -1.0f, 3, 1, 5);
    ScorePopup& p = popups[5];
    int steps = 0;
    std::vector<int> grow;
    while (p.life > 0 && steps < 100) {
        update_popups();
        grow.push_back(p.grow);
        steps++;
    }
    EXPECT_EQ(steps, 5 + 23);   // 16 growing, life - 1 in full, 8 shrinking
    EXPECT_EQ(grow[15], 16);
    EXPECT_EQ(grow[steps - 2], 2);
    EXPECT_FLOAT_EQ(p.x, 100.0f - 0.5f * steps);
    for (int i = 0; i < 6; i++)
        add_popup(0, 0, 0, 0, i, 1, 9);
    EXPECT_EQ(popup_cursor, 5);
    EXPECT_EQ(popups[5].points, 5);
}

TEST(Rules, BallSlotsAreHandedOutDownwardAndAFullArrayRefuses)
{
    empty_field(STATE_TITLE);
    ball_cursor = 1;
    EXPECT_EQ(put_ball(0, 0, 0, 0, 1, 2), 0);
    EXPECT_EQ(balls[0].radius, 15.0f);
    EXPECT_EQ(balls[0].image, 5);
    EXPECT_EQ(put_ball(0, 0, 0, 0, 0, 0), 95);   // wraps
    EXPECT_EQ(balls[95].image, 6);
    clear_balls();
    EXPECT_EQ(put_ball(0, 0, 0, 0, 0, 0), 94);   // clearing keeps the cursor
    for (int i = 0; i < MAX_BALLS; i++)
        add_ball((float)i, 0, 0, 0, 0, 0);
    ASSERT_EQ(used_balls(), MAX_BALLS);
    ball_cursor = 17;
    add_ball(-5.0f, 0, 0, 0, 2, 2);
    EXPECT_EQ(ball_cursor, 17);
    for (const Ball& b : balls)
        EXPECT_NE(b.x, -5.0f);
}

TEST(Rules, SideOfALine)
{
    struct Row {
        Vec2 p, a, b;
        float side;
    } rows[] = {
        {{5, 0}, {0, 10}, {10, 10}, 10},      // above a left-to-right line
        {{5, 20}, {0, 10}, {10, 10}, -10},
        {{5, 0}, {10, 10}, {0, 10}, 10},      // a leftward line: still the simple rule
        {{5, 0}, {0, 0}, {0, 10}, 5},         // right of a downward line
        {{5, 0}, {0, 10}, {0, 0}, 5},
        {{4, 0}, {0, 0}, {2, 4}, 2},          // sloped: a sum of quotients
        {{5, -10}, {0, 0}, {10, -5}, 1.5f},
        {{100, -50}, {3, 3}, {3, 3}, 0},      // no line at all
        {{3e38f, 1e38f}, {0, 0}, {1e-38f, 1e-38f}, 1},   // quotients overflow: the sign alone
        {{1e38f, 1e38f}, {0, 0}, {1e-38f, 1e-38f}, 0},
    };
    for (const Row& r : rows)
        EXPECT_FLOAT_EQ(vec_side(r.p, r.a, r.b), r.side) << r.p.x << ", " << r.p.y;
}

TEST(Rules, BallsPushEachOtherApartAndTradeSpeed)
{
    struct Row {
        float ax, avx, bx, bvx;   // a in the lower slot (moves first), both at y 100
        int asize, bsize;
        float a_vx_after, b_vx_after;
    } rows[] = {
        {100, 2.0f, 121, -1.0f, 1, 1, -0.8f, 1.6f},       // equal: swapped, cut to 0.8
        {100, 1.0f, 121, 0.0f, 2, 0, 0.0f, 15.0f * 0.8f / 7.0f},   // large on small: 1.714
        {100, 0.0f, 120, 0.0f, 1, 1, 0.0f, 0.0f},         // just touching, at rest
        {100, 0.0f, 120.01f, 1.0f, 1, 1, 0.0f, 1.0f},     // a gap: nothing
    };
    for (const Row& r : rows) {
        empty_field(STATE_TITLE);
        int b = put_ball(r.bx, 100, r.bvx, 0, 1, r.bsize);
        int a = put_ball(r.ax, 100, r.avx, 0, 2, r.asize);
        update_balls();
        EXPECT_NEAR(balls[a].vx, r.a_vx_after, 1e-5f) << r.ax << " " << r.bx;
        EXPECT_NEAR(balls[b].vx, r.b_vx_after, 1e-5f) << r.ax << " " << r.bx;
        float gap = (balls[b].x - balls[b].vx) - balls[a].x;
        if (r.bx - r.ax - r.avx <= radius_by_size[r.asize] + radius_by_size[r.bsize]) {
            EXPECT_FLOAT_EQ(gap, radius_by_size[r.asize] + radius_by_size[r.bsize]) << "they end touching";
        }
    }
    // Two balls on the same spot keep it.
    empty_field(STATE_TITLE);
    int a = put_ball(50, 50, 0, 0, 0, 0), b = put_ball(50, 50, 0, 0, 0, 0);
    update_balls();
    EXPECT_EQ(balls[a].x, 50.0f);
    EXPECT_EQ(balls[b].y, 50.0f);
}

TEST(Rules, EdgesOfThePlayfieldByState)
{
    struct Row {
        int state;
        float x, y, vx, vy;
        int kept;             // still in play after one step
        float x_after, vx_after;
    } rows[] = {
        {STATE_PLAYING, 1.0f, 100, -3.0f, 0, 1, 0.0f, 2.4f},      // left wall while playing
        {STATE_TITLE, 1.0f, 100, -3.0f, 0, 1, -2.0f, -3.0f},      // no left wall on the title
        {STATE_TITLE, 575.0f, -50, 3.0f, 0, 1, 576.0f, -2.376f},  // right wall above the top, with drag
        {STATE_TITLE, 575.0f, 100, 3.0f, 0, 0, 0, 0},             // out at the right: gone
        {STATE_TITLE, 100.0f, 479.5f, 0, 1.0f, 0, 0, 0},          // out at the bottom: gone
        {STATE_PLAYING, 100.0f, 479.0f, 0, 1.0f, 1, 100.0f, 0},   // exactly on the bottom is no miss
        {STATE_TITLE, 100.0f, 479.0f, 0, 1.0f, 1, 100.0f, 0},     // nor is it gone
    };
    for (const Row& r : rows) {
        empty_field(r.state);
        int i = put_ball(r.x, r.y, r.vx, r.vy, 1, 0);
        update_balls();
        EXPECT_EQ(balls[i].colour != -1, r.kept != 0) << r.state << " " << r.x << ", " << r.y;
        if (r.kept) {
            EXPECT_FLOAT_EQ(balls[i].x, r.x_after);
            EXPECT_FLOAT_EQ(balls[i].vx, r.vx_after);
        }
        EXPECT_EQ(game_state, r.state);
    }
    // The ceiling holds a ball at -480, speed lost.
    empty_field(STATE_TITLE);
    int c = put_ball(100, -479, 0, -5.0f, 1, 0);
    update_balls();
    EXPECT_EQ(balls[c].y, -480.0f);
    EXPECT_EQ(balls[c].vy, 0.0f);
    // Caught at the right edge while playing: points, popup, combo.
    empty_field(STATE_PLAYING);
    put_ball(575, 100, 3.0f, 0, 1, 2);
    update_balls();
    EXPECT_EQ(score, 5);
    EXPECT_EQ(used_balls(), 0);
    EXPECT_EQ(multiplier, 2);
}

TEST(Rules, ALostBallEndsPlayWithASplash)
{
    empty_field(STATE_PLAYING);
    pace = 20000;
    put_ball(300, 479.0f, 0, 2.0f, 1, 1);
    put_ball(200, 479.0f, 0, 2.0f, 1, 1);   // a second one lost in the same step
    update_balls();
    EXPECT_EQ(game_state, STATE_ENDING);
    EXPECT_EQ(effect_requested[EFFECT_MISS], 1);
    EXPECT_EQ(used_balls(), 32 + 1);
    EXPECT_EQ(miss_x, 200.0f) << "the first in slot order splashes; the other is just gone";
    for (const Ball& b : balls) {
        if (b.colour == -1 || b.colour == 1)
            continue;
        EXPECT_EQ(b.size, 0);
        EXPECT_LE(std::fabs(b.x - miss_x), 31.0f);
        EXPECT_TRUE(b.y > 449.0f && b.y < 481.1f);
    }
    // In the ending the balls drift away from the miss and are blown up.
    empty_field(STATE_ENDING);
    miss_x = 100.0f;
    int i = put_ball(200, 300, 0, 0, 1, 0);
    update_balls();
    EXPECT_FLOAT_EQ(balls[i].vx, 0.3f);
    EXPECT_FLOAT_EQ(balls[i].vy, -0.3f);
}

TEST(Rules, SpawnerPacesBallsAndEventPressure)
{
    // At the starting pace the first ball comes on call 17, then every 48.
    empty_field(STATE_PLAYING);
    pace = 20000;
    spawn_timer = 16;
    event_pressure = -1000000;   // no events in this part
    std::vector<int> calls;
    for (int call = 1; call <= 113; call++) {
        int before = used_balls();
        update_spawner();
        if (used_balls() > before)
            calls.push_back(call);
    }
    EXPECT_EQ(calls, (std::vector<int>{17, 65, 113}));
    // Pressure grows by pace / 4000 per call and never starts an event at 7201 or below.
    event_pressure = 0;
    pace = 28000;
    for (int i = 0; i < 1028; i++)
        update_spawner();
    EXPECT_EQ(event_pressure, 7196);
    for (const SpecialEvent& e : events)
        EXPECT_EQ(e.life, 0);
    // Far beyond it an event starts soon and costs its kind's price.
    event_pressure = 1000000;
    int calls_until_event = 0;
    while (events[0].life + events[1].life + events[2].life + events[3].life == 0 && calls_until_event < 100) {
        update_spawner();
        calls_until_event++;
    }
    EXPECT_LT(calls_until_event, 100);
    int kind = -1;
    for (const SpecialEvent& e : events)
        kind = e.life > 0 ? e.kind : kind;
    const int cost[] = {4800, 5600, 6400, 6000, 6500, 7200};
    EXPECT_EQ(event_pressure, 1000000 + calls_until_event * 7 - cost[kind]);
}

TEST(Rules, EventsLastTheirLifeAndFillTheFreeRecords)
{
    empty_field(STATE_PLAYING);
    event_cursor = MAX_EVENTS;
    start_event(0);   // a fire takes record 3
    SpecialEvent& fire = events[3];
    ASSERT_GT(fire.life, 0);
    EXPECT_TRUE(fire.x >= 106 && fire.x < 319 && fire.y >= 120 && fire.y < 360);
    fire.life = 120;
    int steps = 0;
    while (fire.life > 0 && steps < 1000) {
        effect_requested[EFFECT_GEN] = 0;
        update_events();
        EXPECT_EQ(effect_requested[EFFECT_GEN], 1) << "gen.wav in every step of an event";
        steps++;
    }
    EXPECT_EQ(steps, 16 + 119 + 16);   // appearing, in play, vanishing
    // A tree takes three records downward; a cloud two; a full pool refuses.
    clear_events();
    event_cursor = MAX_EVENTS;
    start_event(2);
    EXPECT_TRUE(events[3].life > 0 && events[2].life > 0 && events[1].life > 0 && events[0].life == 0);
    EXPECT_EQ(events[3].phase, 0);
    EXPECT_LE(events[1].phase, 0) << "later trees wait before they show";
    EXPECT_EQ(event_cursor, 0);
    start_event(4);
    EXPECT_EQ(events[0].kind, 4);
    EXPECT_GT(events[0].life, 0);
    SpecialEvent before[MAX_EVENTS];
    std::memcpy(before, events, sizeof events);
    start_event(1);
    EXPECT_EQ(std::memcmp(before, events, sizeof events), 0);
}

// The web build's rand() gives the C library's sequence for every seed.
TEST(Rules, WebRandomSequenceIsTheCLibrarys)
{
    for (unsigned seed : {0u, 1u, 2u, 12345u, 2147483647u, 2147483648u, 4294967295u}) {
        std::srand(seed);
        glibc_srand(seed);
        int differ = 0;
        for (int i = 0; i < 20000; i++)
            differ += std::rand() != glibc_rand();
        EXPECT_EQ(differ, 0) << "seed " << seed;
    }
}
