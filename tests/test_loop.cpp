// The fixed-step loop with a fake clock, the count-up, the ending countdown,
// the transitions and the keys.
#include <gtest/gtest.h>

#include <vector>

#include "frame/game.h"
#include "frame/loop.h"
#include "frame/title.h"
#include "media/sound.h"

namespace {

unsigned fake_now;
std::vector<unsigned> sleeps;

unsigned fake_clock() { return fake_now; }
void fake_sleep(unsigned ms)
{
    sleeps.push_back(ms);
    fake_now += ms;
}

struct FakeClock : ::testing::Test {
    void SetUp() override
    {
        kiv::read_clock = fake_clock;
        kiv::sleep_for = fake_sleep;
        kiv::step_clock = 0;
        sleeps.clear();
    }
};

TEST_F(FakeClock, FirstFrameRunsFiveStepsThenKeepsUp)
{
    fake_now = 734;   // start-up took a while
    EXPECT_EQ(kiv::steps_due(), 5);
    EXPECT_EQ(kiv::step_clock, 734);
    EXPECT_TRUE(sleeps.empty());

    // A fast machine: each frame sleeps until its step is due and runs one.
    fake_now += 3;
    EXPECT_EQ(kiv::steps_due(), 1);
    ASSERT_EQ(sleeps.size(), 1u);
    EXPECT_EQ(sleeps[0], 7u);
    EXPECT_EQ(kiv::step_clock, 744);
    EXPECT_EQ(fake_now, 744u);   // never earlier than step_clock + 10
}

TEST_F(FakeClock, StallIsNotCaughtUp)
{
    fake_now = 1000;
    kiv::step_clock = 1000;
    fake_now += 1000;   // the window was moved for a second
    EXPECT_EQ(kiv::steps_due(), 5);
    EXPECT_EQ(kiv::step_clock, 2000);
    fake_now += 10;
    EXPECT_EQ(kiv::steps_due(), 1);
    EXPECT_TRUE(sleeps.empty());
}

TEST_F(FakeClock, SlowFramesRunTheStepsDue)
{
    kiv::step_clock = 500;
    fake_now = 537;   // 3.7 steps due: three now, the rest later
    EXPECT_EQ(kiv::steps_due(), 3);
    EXPECT_EQ(kiv::step_clock, 530);
    fake_now = 555;
    EXPECT_EQ(kiv::steps_due(), 2);
    EXPECT_EQ(kiv::step_clock, 550);
    fake_now = 600;   // exactly five due: nothing dropped
    EXPECT_EQ(kiv::steps_due(), 5);
    EXPECT_EQ(kiv::step_clock, 600);
}

TEST(CountUp, ApproachesTheScoreByAStepAndATwentieth)
{
    kiv::score = 100;
    kiv::shown_score = 0;
    const int expected[] = {5, 10, 15, 20, 24, 28, 32, 36, 40, 43, 46, 49};
    int steps = 0;
    for (int want : expected) {
        kiv::effect_requested[kiv::EFFECT_SCORE] = 0;
        kiv::count_up_score();
        steps++;
        EXPECT_EQ(kiv::shown_score, want) << "step " << steps;
        EXPECT_EQ(kiv::effect_requested[kiv::EFFECT_SCORE], 1);
    }
    while (kiv::shown_score < 100) {
        kiv::count_up_score();
        steps++;
        ASSERT_LE(kiv::shown_score, 100);
    }
    EXPECT_EQ(steps, 45);

    kiv::effect_requested[kiv::EFFECT_SCORE] = 0;
    kiv::count_up_score();   // nothing left to count: silent
    EXPECT_EQ(kiv::shown_score, 100);
    EXPECT_EQ(kiv::effect_requested[kiv::EFFECT_SCORE], 0);
}

TEST(CountUp, SmallGapsTakeOneStepPerPoint)
{
    kiv::score = 1;
    kiv::shown_score = 0;
    kiv::count_up_score();
    EXPECT_EQ(kiv::shown_score, 1);

    kiv::score = 2;
    kiv::shown_score = 0;
    kiv::count_up_score();
    EXPECT_EQ(kiv::shown_score, 1);
    kiv::count_up_score();
    EXPECT_EQ(kiv::shown_score, 2);
}

TEST(CountUp, SinglePrecisionAboveSixteenMillion)
{
    // 16777217 is not a float: the step rounds back to where it started.
    kiv::score = 16777218;
    kiv::shown_score = 16777216;
    kiv::effect_requested[kiv::EFFECT_SCORE] = 0;
    kiv::count_up_score();
    EXPECT_EQ(kiv::shown_score, 16777216);
    EXPECT_EQ(kiv::effect_requested[kiv::EFFECT_SCORE], 1);

    // Far above, a step may end a few points past the score; then it stops.
    kiv::score = 999999999;
    kiv::shown_score = 999999990;
    kiv::count_up_score();
    EXPECT_GE(kiv::shown_score, 999999990);
    EXPECT_LE(kiv::shown_score - kiv::score, 64);
}

struct Ending : ::testing::Test {
    void SetUp() override
    {
        kiv::game_state = kiv::STATE_ENDING;
        kiv::end_timer = 0;
        kiv::score = 5000000;
        kiv::shown_score = 0;
        kiv::high_score = 4000000;
    }
};

TEST_F(Ending, Lasts121StepsAndSettlesTheScore)
{
    for (int i = 0; i < 120; i++) {
        kiv::ending_step();
        ASSERT_EQ(kiv::game_state, kiv::STATE_ENDING) << "step " << i + 1;
        ASSERT_EQ(kiv::high_score, 4000000) << "the high score changes only at the end";
    }
    EXPECT_LT(kiv::shown_score, 5000000);
    kiv::game_over_timer = 77;
    kiv::ending_step();
    EXPECT_EQ(kiv::game_state, kiv::STATE_GAME_OVER);
    EXPECT_EQ(kiv::game_over_timer, 0);
    EXPECT_EQ(kiv::shown_score, 5000000);
    EXPECT_EQ(kiv::high_score, 5000000);
}

TEST_F(Ending, EqualOrLowerScoreKeepsTheHighScore)
{
    kiv::score = 4000000;
    for (int i = 0; i < 121; i++)
        kiv::ending_step();
    EXPECT_EQ(kiv::game_state, kiv::STATE_GAME_OVER);
    EXPECT_EQ(kiv::high_score, 4000000);

    kiv::game_state = kiv::STATE_ENDING;
    kiv::end_timer = 0;
    kiv::score = 10;
    for (int i = 0; i < 121; i++)
        kiv::ending_step();
    EXPECT_EQ(kiv::high_score, 4000000);
    EXPECT_EQ(kiv::shown_score, 10);
}

TEST(Transitions, NewGameResetsTheGame)
{
    kiv::game_state = kiv::STATE_TITLE;
    kiv::score = 77;
    kiv::shown_score = 70;
    kiv::high_score = 123;
    kiv::pace = 99999;
    kiv::spawn_timer = 3;
    kiv::end_timer = 9;
    kiv::event_pressure = 4000;
    kiv::next_milestone = 5;
    kiv::new_game();
    EXPECT_EQ(kiv::game_state, kiv::STATE_PLAYING);
    EXPECT_EQ(kiv::score, 0);
    EXPECT_EQ(kiv::shown_score, 0);
    EXPECT_EQ(kiv::high_score, 123);
    EXPECT_EQ(kiv::pace, 20000);
    EXPECT_EQ(kiv::spawn_timer, 16);
    EXPECT_EQ(kiv::end_timer, 0);
    EXPECT_EQ(kiv::event_pressure, 0);
    EXPECT_EQ(kiv::next_milestone, 1000000);
}

TEST(Transitions, GoToTitleKeepsTheScores)
{
    kiv::windowed = 0;
    kiv::game_state = kiv::STATE_GAME_OVER;
    kiv::score = 450;
    kiv::shown_score = 450;
    kiv::title_wave = 17;
    kiv::hover_start = 1;
    kiv::hover_quit = 1;
    kiv::go_to_title();
    EXPECT_EQ(kiv::game_state, kiv::STATE_TITLE);
    EXPECT_EQ(kiv::score, 450);
    EXPECT_EQ(kiv::shown_score, 450);
    EXPECT_EQ(kiv::title_wave, -48);
    EXPECT_EQ(kiv::hover_start, 0);
    EXPECT_EQ(kiv::hover_quit, 0);
}

TEST(Keys, EscapeQuitsOnTheTitleAndLeavesEverythingElse)
{
    kiv::windowed = 0;
    kiv::quit_requested = 0;
    for (int state : {kiv::STATE_PLAYING, kiv::STATE_ENDING, kiv::STATE_GAME_OVER}) {
        kiv::game_state = state;
        kiv::handle_escape();
        EXPECT_EQ(kiv::game_state, kiv::STATE_TITLE);
        EXPECT_EQ(kiv::quit_requested, 0);
    }
    // Two presses in one batch during a game: back to the title, then quit.
    kiv::game_state = kiv::STATE_PLAYING;
    kiv::handle_escape();
    kiv::handle_escape();
    EXPECT_EQ(kiv::quit_requested, 1);

    kiv::quit_requested = 0;
    kiv::game_state = kiv::STATE_PLAYING;
    kiv::handle_window_close();
    EXPECT_EQ(kiv::quit_requested, 1);
    EXPECT_EQ(kiv::game_state, kiv::STATE_PLAYING);
}

} // namespace
