// Runs of the desktop game kept as replays, played through the main loop's
// own frames with a bot for a mouse (and in a window a system mouse that is
// somewhere else at every return to the title), then played again.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "frame/game.h"
#include "frame/loop.h"
#include "frame/startup.h"
#include "media/draw.h"
#include "media/input.h"
#include "media/screen.h"
#include "platform/sdl/session.h"
#include "../tools/bot/bot.h"
#include "replay/file.h"
#include "replay/run.h"

using namespace kiv;

namespace {

unsigned fake_now;
unsigned fake_clock() { return fake_now; }
void fake_sleep(unsigned ms) { fake_now += ms; }

Bot bot;
void bot_mouse(StepInput* input)
{
    StepInput in = bot_input(bot);
    record_step(in);
    input->dx += in.dx;
    input->dy += in.dy;
    input->buttons = in.buttons;
}

// Where the system mouse is at each return to the title: somewhere new
// each time, off the window too.
int returns;
void wandering_mouse(int* x, int* y)
{
    returns++;
    *x = (returns * 211) % 700 - 30;
    *y = (returns * 157) % 520 - 20;
    record_pointer(*x, *y);
}

std::vector<std::string> files_in(const std::string& dir)
{
    std::vector<std::string> names;
    std::error_code none;
    for (const auto& e : std::filesystem::directory_iterator(dir, none))
        names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// A desktop run in a scratch data directory, started as run_game starts
// one: the options, the high score and the seed set, the recording begun,
// the title entered.
struct DesktopRun : ::testing::Test {
    std::string dir, replays;
    unsigned (*clock)() = read_clock;
    void (*sleep)(unsigned) = sleep_for;
    int drawing = drawing_on;

    void SetUp() override
    {
        char templ[] = "/tmp/kiv-session-XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        dir = templ;
        replays = dir + "/data/kiv/replays";
        setenv("XDG_DATA_HOME", (dir + "/data").c_str(), 1);
        read_clock = fake_clock;
        sleep_for = fake_sleep;
        drawing_on = 0;   // the screen plays no part in a replay's steps
    }
    void TearDown() override
    {
        stop_replay();
        read_clock = clock;
        sleep_for = sleep;
        drawing_on = drawing;
        unsetenv("XDG_DATA_HOME");
        std::system(("rm -rf '" + dir + "'").c_str());
    }

    void start(bool in_window, unsigned seed)
    {
        reset_game_records();
        playing_replay = false;
        windowed = in_window;
        mouse_speed = in_window ? 1.0f : 3.0f;
        high_score = 4242;
        bot = Bot{};
        bot.kind = BOT_IDLE;
        returns = 0;
        input_source = bot_mouse;
        pointer_source = wandering_mouse;
        fake_now = 1000;
        step_clock = 0;
        std::srand(seed);
        start_run_recording(seed);
        go_to_title();
    }

    // Runs frames as the platform's main loop does, Escape pressed after
    // the frames listed; frames of `ms`, or mostly 10 and now and then 30 or 60.
    void play(long frames, std::vector<long> escapes = {}, unsigned ms = 0)
    {
        for (long f = 0; f < frames; f++) {
            fake_now += ms ? ms : f % 97 == 0 ? 60 : (f % 13 == 0 ? 30 : 10);
            run_frame();
            if (std::find(escapes.begin(), escapes.end(), f) != escapes.end()) {
                note_escape();
                handle_escape();
            }
            end_session_frame();
        }
    }

    // Saves the run as the exit does; returns what it printed.
    std::string save()
    {
        ::testing::internal::CaptureStderr();
        save_session();
        return ::testing::internal::GetCapturedStderr();
    }
};

} // namespace

TEST_F(DesktopRun, IsKeptAsAReplayThatPlaysTheSameStepsAndTheNewestHundredStay)
{
    // A hundred older replays, and files that are not the game's.
    const std::vector<std::string> others = {"notes.txt", "kiv-mine.rec", "kiv-2000-01-01-000000-1.rec.bak"};
    ASSERT_EQ(std::system(("mkdir -p '" + replays + "'").c_str()), 0);
    for (int i = 0; i < 100; i++)
        std::ofstream(replays + "/kiv-2000-01-01-0000" + std::to_string(10 + i % 90) + "-" + std::to_string(i) + ".rec");
    for (const std::string& other : others)
        std::ofstream(replays + "/" + other);

    // Games lost, their game-over screens clicked away, one left with
    // Escape: the pointer returns to the system mouse at each title.
    start(true, 777);
    play(3000, {1900});
    ASSERT_GE(returns, 4);
    const int score_at_end = kiv::score;
    EXPECT_EQ(save(), "");
    std::vector<std::string> names = files_in(replays), kept;
    EXPECT_EQ(names.size(), 103u);
    for (const std::string& n : names)
        if (n.compare(0, 6, "kiv-20") == 0 && n.compare(0, 8, "kiv-2000") != 0)
            kept.push_back(n);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_TRUE(std::regex_match(kept[0], std::regex("kiv-20[0-9]{2}-[0-9]{2}-[0-9]{2}-[0-9]{6}-[0-9]+\\.rec")));
    EXPECT_EQ(std::count(names.begin(), names.end(), "kiv-2000-01-01-000010-0.rec"), 0) << "the oldest stays";
    for (const std::string& other : others)
        EXPECT_EQ(std::count(names.begin(), names.end(), other), 1) << other;

    // Played again as kiv-verify plays it: the same steps, the same score.
    ReplayError error;
    ReplayResult result;
    ASSERT_TRUE(load_replay((replays + "/" + kept[0]).c_str(), &error)) << error.text;
    EXPECT_TRUE(replay.header.windowed && replay.header.seed == 777 && replay.header.high_score == 4242);
    EXPECT_NE(replay.header.fingerprint, 0u);
    ASSERT_TRUE(verify_replay(&result, &error)) << error.text;
    EXPECT_EQ(result.score, score_at_end);
    EXPECT_EQ(replay_run.returns, returns);

    // The pointer's places are part of the game: one fewer, one more or
    // one moved, and the replay is refused.
    Replay* held = new Replay(replay);
    struct {
        void (*edit)();
        const char* message;
    } edits[] = {
        {[] { replay.returns--; }, "more often than the"},
        {[] { replay.place[replay.returns++] = PointerPlace{1, 2}; }, "yet the replay holds"},
        {[] { replay.place[1].x++; }, "the game differs from the one recorded"},
    };
    for (const auto& e : edits) {
        replay = *held;
        e.edit();
        EXPECT_FALSE(verify_replay(&result, &error));
        EXPECT_NE(std::string(error.text).find(e.message), std::string::npos) << error.text;
    }
    // Nor may the last place be cut short.
    replay = *held;
    replay.header.body_size = write_replay_body(replay_body, MAX_REPLAY_BODY) - 1;
    EXPECT_FALSE(read_replay_body(replay.header, replay_body, replay.header.body_size, &error));
    EXPECT_NE(std::string(error.text).find("cut short or malformed"), std::string::npos) << error.text;
    delete held;
}

TEST_F(DesktopRun, NotKeptWhenTheTitleWasNeverLeftAndOneLineWhenItCannotBeWritten)
{
    start(false, 5);
    bot.wait_title = 100000;
    play(200);
    EXPECT_EQ(save(), "");
    EXPECT_TRUE(files_in(replays).empty());

    setenv("XDG_DATA_HOME", "/dev/null/data", 1);
    start(false, 5);
    play(400);
    ASSERT_NE(game_state, STATE_TITLE);
    EXPECT_EQ(save(), "Couldn't save the replay of this run: /dev/null/data: Not a directory\n");
    play(10);   // the game plays on
    EXPECT_FALSE(quit_requested);
}

TEST_F(DesktopRun, AnHourIsTheMostAReplayHoldsAndTheRunPlaysOnUnrecorded)
{
    start(false, 9);
    ::testing::internal::CaptureStderr();
    play(72010, {}, 50);   // frames of five steps: an hour in 72,000
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "This run has lasted an hour, as long as a replay can be: its replay ends here\n");
    EXPECT_EQ(save(), "");
    std::vector<std::string> names = files_in(replays);
    ASSERT_EQ(names.size(), 1u);
    ReplayError error;
    ReplayResult result;
    ASSERT_TRUE(load_replay((replays + "/" + names[0]).c_str(), &error)) << error.text;
    EXPECT_EQ(replay.header.steps, MAX_REPLAY_STEPS);
    EXPECT_TRUE(verify_replay(&result, &error)) << error.text;
}
