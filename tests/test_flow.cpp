// The frame of the game: the fixed-step clock, the keys, the title's buttons
// and the hand-over between the screens, run through the real frame code.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "frame/game.h"
#include "frame/headless.h"
#include "frame/loop.h"
#include "frame/title.h"
#include "media/draw.h"
#include "media/input.h"
#include "media/sound.h"
#include "sim/balls.h"

using namespace kiv;

namespace {

unsigned fake_now;
unsigned slept;
unsigned fake_clock() { return fake_now; }
void fake_sleep(unsigned ms)
{
    slept += ms;
    fake_now += ms;
}

// The input of every step until changed.
StepInput held;
void hold_input(int, StepInput* input, void*) { *input = held; }

} // namespace

TEST(Flow, StepsDueNeverMoreThanFiveAndNeverEarly)
{
    read_clock = fake_clock;
    sleep_for = fake_sleep;
    struct Row {
        int clock;
        unsigned now;
        int steps, clock_after;
        unsigned sleep;
    } rows[] = {
        {0, 734, 5, 734, 0},       // the first frame after start-up
        {734, 737, 1, 744, 7},     // early: sleep until the step is due
        {1000, 2000, 5, 2000, 0},  // a stall of a second is not caught up
        {500, 537, 3, 530, 0},     // a slow frame runs the steps due
        {500, 550, 5, 550, 0},
        {-10, 4294967290u, 1, 0, 6},   // the millisecond clock wraps
    };
    for (const Row& r : rows) {
        step_clock = r.clock;
        fake_now = r.now;
        slept = 0;
        EXPECT_EQ(steps_due(), r.steps) << r.clock << " at " << r.now;
        EXPECT_EQ(step_clock, r.clock_after) << r.clock << " at " << r.now;
        EXPECT_EQ(slept, r.sleep) << r.clock << " at " << r.now;
    }
}

// The game pointer: the mouse's motion times the speed, truncated, kept on
// the screen however far the mouse goes; full screen it returns to the
// middle on the title, in a window to the system mouse (at (0, 0) here),
// where the title's first step finds it, motion held from the ending too.
TEST(Flow, ThePointerFollowsTheMouseTimesItsSpeedAndStaysOnTheScreen)
{
    struct Row {
        float speed;
        int x, y, dx, dy, to_x, to_y;
    } rows[] = {
        {1.5f, 10, 10, 3, 0, 14, 10},   // 14.5
        {3.0f, 600, 470, 13, 3, 639, 479},
        {1.0f, 5, 5, -10, -6, 0, 0},
        {9.9f, 320, 240, 2147483647, -2147483647, 639, 0},
    };
    for (const Row& r : rows) {
        mouse_speed = r.speed;
        pointer_x = r.x, pointer_y = r.y;
        step_input = StepInput{r.dx, r.dy, 1};
        int x = -1, y = -1;
        EXPECT_EQ(read_pointer(x, y), 1);
        EXPECT_TRUE(x == r.to_x && y == r.to_y && pointer_x == x && pointer_y == y) << x << ", " << y;
    }
    windowed = 0;
    reset_pointer();
    EXPECT_TRUE(pointer_x == 320 && pointer_y == 240);
    windowed = 1;
    for (float speed : {1.0f, 1.5f, 9.9f}) {
        mouse_speed = speed, step_input = StepInput{7, 3, 0};
        reset_pointer();
        int x = -1, y = -1;
        read_pointer(x, y);
        EXPECT_TRUE(x == 0 && y == 0) << speed << ": " << x << ", " << y;
    }
    windowed = 0;
}

TEST(Flow, EscapeLeavesAGameAndQuitsOnTheTitle)
{
    windowed = 0;
    for (int state : {STATE_PLAYING, STATE_ENDING, STATE_GAME_OVER}) {
        quit_requested = 0;
        game_state = state;
        score = shown_score = 450;
        handle_escape();
        EXPECT_EQ(game_state, STATE_TITLE);
        EXPECT_EQ(quit_requested, 0);
        EXPECT_EQ(shown_score, 450) << "the title shows the last game's score";
        handle_escape();   // a second press in the same frame
        EXPECT_EQ(quit_requested, 1);
    }
    quit_requested = 0;
    game_state = STATE_PLAYING;
    handle_window_close();
    EXPECT_EQ(quit_requested, 1);
    EXPECT_EQ(game_state, STATE_PLAYING);
}

TEST(Flow, TitleButtonRegionsAreInclusiveAndBeginLeftOfThePictures)
{
    struct Row {
        int x, y, start, quit;
    } rows[] = {
        {456, 316, 0, 0}, {457, 301, 1, 0}, {585, 331, 1, 0}, {586, 331, 0, 0}, {500, 300, 0, 0},
        {500, 332, 0, 0}, {500, 350, 0, 0}, {500, 351, 0, 1}, {457, 381, 0, 1}, {500, 382, 0, 0},
    };
    mouse_speed = 1.0f;
    for (const Row& r : rows) {
        pointer_x = r.x;
        pointer_y = r.y;
        step_input = StepInput{0, 0, 0};
        title_update();
        EXPECT_EQ(hover_start, r.start) << r.x << ", " << r.y;
        EXPECT_EQ(hover_quit, r.quit) << r.x << ", " << r.y;
        EXPECT_EQ(menu_x, r.x);
    }
}

// Start held on the title, a game, a lost ball, the ending, the game-over
// screen ended by a click, and the title again, frame by frame.
TEST(Flow, FromTheTitleThroughAGameAndBack)
{
    ASSERT_TRUE(start_headless(3));
    set_step_script(hold_input, nullptr);
    shown_score = 0;
    windowed = 0;
    mouse_speed = 3.0f;
    reset_pointer();
    // Walk from the centre onto Start holding the button: only the frame
    // whose step finds the pointer inside the region starts the game, and
    // that frame is still drawn as the title.
    held = StepInput{20, 9, 1};
    run_headless_frame(1);
    run_headless_frame(1);
    EXPECT_EQ(game_state, STATE_TITLE);
    run_headless_frame(1);
    ASSERT_EQ(game_state, STATE_PLAYING);
    EXPECT_EQ(pointer_x, 500);
    EXPECT_EQ(pace, 20001) << "the title frame that started the game counted too";
    // Leave the pan where it is until a ball is lost.
    held = StepInput{0, 0, 0};
    int steps = 0;
    while (game_state == STATE_PLAYING && steps < 20000) {
        run_headless_frame(1);
        steps++;
    }
    ASSERT_EQ(game_state, STATE_ENDING);
    for (int i = 0; i < 120; i++)
        run_headless_frame(1);
    EXPECT_EQ(game_state, STATE_ENDING);
    run_headless_frame(1);
    EXPECT_EQ(game_state, STATE_GAME_OVER);
    // The game-over screen lasts 361 steps, or ends at a click.
    for (int i = 0; i < 50; i++)
        run_headless_frame(1);
    EXPECT_EQ(game_over_timer, 50);
    held = StepInput{0, 0, 1};
    run_headless_frame(1);
    EXPECT_EQ(game_state, STATE_TITLE);
    EXPECT_EQ(title_wave, -48);
    game_state = STATE_GAME_OVER;
    game_over_timer = 0;
    held = StepInput{0, 0, 0};
    for (int i = 0; i < 360; i++)
        run_headless_frame(1);
    EXPECT_EQ(game_state, STATE_GAME_OVER);
    run_headless_frame(1);
    EXPECT_EQ(game_state, STATE_TITLE);
    set_step_script(nullptr, nullptr);
}

TEST(FlowDeathTest, QuitButtonEndsWithStatusOneAndWritesTheHighScore)
{
    GTEST_FLAG_SET(death_test_style, "fast");
    ASSERT_TRUE(start_headless(1));
    sound_off = 1;
    high_score = 0x01020304;
    char dir[] = "/tmp/kiv-quit-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    char* old = getcwd(nullptr, 0);
    ASSERT_EQ(chdir(dir), 0);
    pointer_x = 500;
    pointer_y = 360;
    step_input = StepInput{0, 0, 0};
    title_update();
    title_draw();   // over Quit without the button: nothing
    step_input = StepInput{0, 0, 1};
    title_update();
    EXPECT_EXIT(title_draw(), ::testing::ExitedWithCode(1), "");
    unsigned char bytes[8] = {};
    FILE* f = std::fopen("kiv.prf", "rb");
    ASSERT_NE(f, nullptr) << "kiv.prf was not written";
    EXPECT_EQ(std::fread(bytes, 1, sizeof bytes, f), 4u);
    std::fclose(f);
    EXPECT_EQ(bytes[0] << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3], 0x01020304);
    std::remove("kiv.prf");
    EXPECT_EQ(chdir(old), 0);
    std::free(old);
    rmdir(dir);
}
