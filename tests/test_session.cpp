// Runs of the desktop game kept as replays: played through the main loop's
// own frames with a bot for a mouse and a system mouse that is somewhere
// else at every return to the title, as in a window; written into the
// player's data directory, the newest 100 kept; played again to the same
// steps; a run that never left the title not kept; an hour the most a
// replay holds; and a failure to write one line that stops nothing.
#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "frame/game.h"
#include "frame/loop.h"
#include "frame/startup.h"
#include "media/draw.h"
#include "media/input.h"
#include "media/screen.h"
#include "platform/sdl/session.h"
#include "replay/bot.h"
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
    note_step_input(in);
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
    note_pointer(*x, *y);
}

std::vector<std::string> files_in(const std::string& dir)
{
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.')
                names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A desktop run in a scratch data directory, started as run_game starts
// one: the options, the high score and the seed set, the recording begun,
// the title entered. Frames take 10 ms, now and then 30 or 60.
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
    // the frames listed.
    void play(long frames, std::vector<long> escapes = {})
    {
        for (long f = 0; f < frames; f++) {
            fake_now += f % 97 == 0 ? 60 : (f % 13 == 0 ? 30 : 10);
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
    // Older replays, and files that are not the game's.
    ASSERT_EQ(std::system(("mkdir -p '" + replays + "'").c_str()), 0);
    for (int i = 0; i < 100; i++)
        std::ofstream(replays + "/kiv-2000-01-01-0000" + std::to_string(10 + i % 90) + "-" + std::to_string(i) +
                      ".rec");
    for (const char* other : {"notes.txt", "kiv-mine.rec", "kiv-2000-01-01-000000-1.rec.bak"})
        std::ofstream(replays + "/" + other);

    start(true, 777);
    // Games lost, their game-over screens clicked away, and one left with
    // Escape: the pointer returns to the system mouse at each title.
    play(3000, {1900});
    ASSERT_GE(returns, 4);
    EXPECT_EQ(save(), "");
    EXPECT_EQ(files_in(replays).size(), 103u);
    std::vector<std::string> names = files_in(replays);
    EXPECT_EQ(std::count(names.begin(), names.end(), "kiv-2000-01-01-000010-0.rec"), 0) << "the oldest removed";
    for (const char* other : {"notes.txt", "kiv-mine.rec", "kiv-2000-01-01-000000-1.rec.bak"})
        EXPECT_EQ(std::count(names.begin(), names.end(), other), 1) << other;
    std::string kept;
    for (const std::string& n : names)
        if (n.compare(0, 6, "kiv-20") == 0 && n.compare(0, 8, "kiv-2000") != 0)
            kept = n;
    ASSERT_FALSE(kept.empty());
    int year, month, day, time, score, length = 0;
    ASSERT_EQ(std::sscanf(kept.c_str(), "kiv-%4d-%2d-%2d-%6d-%d%n", &year, &month, &day, &time, &score, &length), 5)
        << kept;
    EXPECT_EQ(kept.substr(static_cast<size_t>(length)), ".rec");

    // Played again as kiv-verify plays it: the same steps, the same score.
    const int score_at_end = kiv::score;
    ReplayError error;
    ReplayResult result;
    ASSERT_TRUE(load_replay((replays + "/" + kept).c_str(), &error)) << error.text;
    EXPECT_TRUE(replay.header.windowed);
    EXPECT_EQ(replay.header.seed, 777u);
    EXPECT_EQ(replay.header.high_score, 4242);
    EXPECT_EQ(replay.returns, returns);
    EXPECT_NE(replay.header.fingerprint, 0u);
    ASSERT_TRUE(verify_replay(&result, &error)) << error.text;
    EXPECT_EQ(result.score, score_at_end);
    EXPECT_EQ(result.steps, replay.header.steps);
    EXPECT_EQ(replay_run.returns, returns);

    // The places of the pointer are part of the game: one fewer, or one
    // more, and the replay is refused.
    Replay* held = new Replay(replay);
    replay.returns--;
    EXPECT_FALSE(verify_replay(&result, &error));
    EXPECT_NE(std::string(error.text).find("more often than the"), std::string::npos) << error.text;
    replay = *held;
    replay.place[replay.returns++] = PointerPlace{1, 2};
    EXPECT_FALSE(verify_replay(&result, &error));
    EXPECT_NE(std::string(error.text).find("yet the replay holds"), std::string::npos) << error.text;
    replay = *held;
    replay.place[1].x++;
    EXPECT_FALSE(verify_replay(&result, &error));
    EXPECT_NE(std::string(error.text).find("the game differs from the one recorded"), std::string::npos)
        << error.text;
    delete held;
}

TEST_F(DesktopRun, ARunThatNeverLeftTheTitleIsNotKept)
{
    start(false, 5);
    bot.wait_title = 100000;
    play(200);
    EXPECT_EQ(save(), "");
    EXPECT_TRUE(files_in(replays).empty());
}

TEST_F(DesktopRun, AReplayThatCannotBeWrittenIsOneLineAndNothingElse)
{
    setenv("XDG_DATA_HOME", "/dev/null/data", 1);
    start(false, 5);
    play(400);
    ASSERT_NE(game_state, STATE_TITLE);
    EXPECT_EQ(save(), "Couldn't save the replay of this run: /dev/null/data: Not a directory\n");
    // Nothing of the game changed: it plays on.
    play(10);
    EXPECT_FALSE(quit_requested);
}

TEST_F(DesktopRun, AnHourIsTheMostAReplayHoldsAndTheRunPlaysOnUnrecorded)
{
    start(false, 9);
    ::testing::internal::CaptureStderr();
    // Slow frames of five steps: an hour in 72,000 frames.
    for (long f = 0; f < 72010; f++) {
        fake_now += 50;
        run_frame();
        end_session_frame();
    }
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
