// Scoring: the combo multiplier, the music milestones and the popups.
#include <gtest/gtest.h>

#include <cstdlib>

#include "frame/game.h"
#include "sim/balls.h"
#include "sim/scoring.h"

using namespace kiv;

namespace {

void reset_scoring()
{
    clear_balls();
    clear_popups();
    popup_cursor = MAX_POPUPS;
    score = 0;
    next_milestone = 1000000;
}

Ball caught_ball(int size, float x = 580.0f, float y = 200.0f)
{
    Ball b{};
    b.x = x;
    b.y = y;
    b.radius = radius_by_size[size];
    b.colour = 1;
    b.size = size;
    b.image = 3 + size;
    return b;
}

} // namespace

TEST(Combo, MultipliersOfConsecutiveCatches)
{
    reset_scoring();
    const int want[] = {1, 2, 3, 5, 7, 10, 14, 20, 28, 39, 54, 74, 102, 140, 192, 263, 360, 492, 673, 920};
    for (int m : want) {
        EXPECT_EQ(multiplier, m);
        Ball b = caught_ball(0);
        catch_ball(b);
        EXPECT_EQ(last_multiplier, m);
        EXPECT_EQ(combo_timer, 20);
    }
    for (int i = 0; i < 20; i++) {
        Ball b = caught_ball(0);
        catch_ball(b);
    }
    EXPECT_EQ(multiplier, 9999);
    Ball b = caught_ball(0);
    catch_ball(b);
    EXPECT_EQ(multiplier, 9999);
    EXPECT_EQ(last_multiplier, 9999);
}

TEST(Combo, PointsTimesMultiplier)
{
    reset_scoring();
    Ball large = caught_ball(2);
    catch_ball(large);
    EXPECT_EQ(score, 5);
    EXPECT_EQ(multiplier, 2);
    EXPECT_EQ(last_multiplier, 1);
    EXPECT_EQ(large.colour, -1);
    for (int i = 0; i < 18; i++)
        tick_combo();
    Ball small = caught_ball(0);
    catch_ball(small);              // 19 steps later: still in the combo
    EXPECT_EQ(score, 5 + 6);
    Ball medium = caught_ball(1);
    catch_ball(medium);             // same step: uses the raised multiplier
    EXPECT_EQ(score, 5 + 6 + 4 * 3);
}

TEST(Combo, EndsTwentyTicksAfterTheLastCatch)
{
    reset_scoring();
    Ball b = caught_ball(0);
    catch_ball(b);
    catch_ball(b);
    ASSERT_EQ(multiplier, 3);
    for (int i = 0; i < 19; i++)
        tick_combo();
    EXPECT_EQ(multiplier, 3);
    tick_combo();
    EXPECT_EQ(multiplier, 1);
    EXPECT_EQ(last_multiplier, 1);
    EXPECT_EQ(combo_timer, 0);
    tick_combo();
    EXPECT_EQ(combo_timer, 0);
}

TEST(ScoreTotal, CappedAtTheTop)
{
    reset_scoring();
    score = 999999990;
    next_milestone = 1000000000;
    add_score(5 * 9999);
    EXPECT_EQ(score, 999999999);
    add_score(3);
    EXPECT_EQ(score, 999999999);
    EXPECT_EQ(next_milestone, 1000000000);
}

TEST(ScoreTotal, MilestonesMoveToTheNextMillionAboveTheScore)
{
    reset_scoring();
    score = 999990;
    add_score(10);                  // exactly a million: no change yet
    EXPECT_EQ(score, 1000000);
    EXPECT_EQ(next_milestone, 1000000);
    add_score(1);
    EXPECT_EQ(next_milestone, 2000000);
    add_score(2500000);             // jumps over two millions at once
    EXPECT_EQ(score, 3500001);
    EXPECT_EQ(next_milestone, 4000000);
    add_score(499999);              // exactly on it
    EXPECT_EQ(next_milestone, 4000000);
}

TEST(Popups, CatchStartsAPopupLeftOfTheBall)
{
    reset_scoring();
    srand(99);
    int r1 = rand() % 10, r2 = rand() % 20, r3 = rand() % 10;
    srand(99);
    Ball b = caught_ball(1, 590.0f, 300.0f);
    catch_ball(b);
    const ScorePopup& p = popups[5];
    EXPECT_EQ(p.x, 590.0f - 104.0f);
    EXPECT_EQ(p.y, 300.0f);
    EXPECT_FLOAT_EQ(p.vx, -0.1f * (float)r1 - 0.1f);
    EXPECT_FLOAT_EQ(p.vy, -0.1f * (float)r2);
    EXPECT_EQ(p.life, 10 + r3);
    EXPECT_EQ(p.points, 4);
    EXPECT_EQ(p.multiplier, 1);
    EXPECT_EQ(p.grow, 0);

    // at multiplier 10 to 99 the text is one digit wider, and from 100 the
    // life grows by multiplier / 100
    multiplier = 42;
    Ball c = caught_ball(0, 590.0f, 300.0f);
    catch_ball(c);
    EXPECT_EQ(popups[4].x, 590.0f - 156.0f);
    multiplier = 1234;
    srand(5);
    rand();
    rand();
    int r = rand() % 10;
    srand(5);
    Ball d = caught_ball(0, 590.0f, 300.0f);
    catch_ball(d);
    EXPECT_EQ(popups[3].x, 590.0f - 260.0f);
    EXPECT_EQ(popups[3].life, 12 + r + 10);
    EXPECT_EQ(popups[3].multiplier, 1234);
}

TEST(Popups, LifeCycleLastsLifePlus23Steps)
{
    reset_scoring();
    add_popup(100.0f, 50.0f, -0.5f, -1.0f, 3, 1, 5);
    ScorePopup& p = popups[5];
    int shown = 0;
    int max_grow = 0;
    while (p.life > 0 && shown < 1000) {
        update_popups();
        shown++;
        if (p.grow > max_grow)
            max_grow = p.grow;
        if (shown == 16) {
            EXPECT_EQ(p.grow, 16);
        }
        if (shown == 16 + 4) {
            EXPECT_EQ(p.life, 1);   // full size for life - 1 steps
        }
    }
    EXPECT_EQ(shown, 5 + 23);
    EXPECT_EQ(max_grow, 16);
    EXPECT_EQ(p.grow, 0);
    EXPECT_FLOAT_EQ(p.x, 100.0f - 0.5f * 28);
    EXPECT_FLOAT_EQ(p.y, 50.0f - 28.0f);
    // a free popup no longer drifts
    update_popups();
    EXPECT_FLOAT_EQ(p.x, 100.0f - 0.5f * 28);
}

TEST(Popups, SeventhReplacesTheFirstAndClearKeepsTheCursor)
{
    reset_scoring();
    for (int i = 0; i < 7; i++)
        add_popup((float)i, 0, 0, 0, 3, i + 1, 30);
    EXPECT_EQ(popup_cursor, 5);
    EXPECT_EQ(popups[5].multiplier, 7);   // the first popup's slot
    EXPECT_EQ(popups[0].multiplier, 6);
    update_popups();
    EXPECT_EQ(popups[5].grow, 1);         // started afresh
    clear_popups();
    for (const ScorePopup& p : popups)
        EXPECT_EQ(p.life, 0);
    EXPECT_EQ(popup_cursor, 5);
    add_popup(0, 0, 0, 0, 3, 1, 30);
    EXPECT_EQ(popup_cursor, 4);
}
