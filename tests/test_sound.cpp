// Sound on the real mixer: the music's tracks and the effect requests, what
// SDL's disk driver records of them, and what the game says when it has to
// run silent. Each case runs in a child process of its own.
#include <gtest/gtest.h>

#include <SDL.h>
#include <SDL_mixer.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "media/sound.h"

using namespace kiv;

namespace {

std::string read_file(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

struct Child {
    int status = -1;
    std::string out, err;
};

// Runs body in a child in directory dir with the given audio driver.
Child run_child(const std::string& dir, const char* driver, const std::function<int()>& body)
{
    Child c;
    std::string out = dir + "/child.out", err = dir + "/child.err";
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        if (!std::freopen(out.c_str(), "w", stdout) || !std::freopen(err.c_str(), "w", stderr) || chdir(dir.c_str()))
            _exit(100);
        setenv("SDL_AUDIODRIVER", driver, 1);
        setenv("SDL_DISKAUDIOFILE", (dir + "/played.raw").c_str(), 1);
        int code = body();
        std::fflush(nullptr);
        _exit(code);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    c.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    c.out = read_file(out);
    c.err = read_file(err);
    return c;
}

// A scratch directory with sounds/ from the generator (short test tracks:
// track 0 is 128 ms of 500 Hz then 384 ms of 1000 Hz, track 1 is 1500 Hz).
struct Scratch : ::testing::Test {
    std::string dir;
    void SetUp() override
    {
        char templ[] = "/tmp/kiv-sound-XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        dir = templ;
        std::string cmd = "mkdir '" + dir + "/sounds' && '" KIV_BINARY_DIR "/tools/make_sounds' '" + dir +
                          "/sounds' --test-tracks";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }
};

void run_frames(int ms)
{
    for (Uint32 end = SDL_GetTicks() + ms; SDL_GetTicks() < end; SDL_Delay(10))
        play_requested_effects();
}

// What a silent game must still take: every operation, without a sound.
int init_and_report()
{
    for (int& r : effect_requested)
        r = 1;
    init_sound();
    std::printf("ready=%d flags=%d%d%d\n", (int)sound_ready, effect_requested[0], effect_requested[1],
                effect_requested[2]);
    start_music(0);
    advance_music();
    play_requested_effects();
    stop_music();
    shutdown_sound();
    return 0;
}

} // namespace

TEST_F(Scratch, TracksRepeatSwitchAtAMilestoneAndEffectsPlayOncePerFrame)
{
    Child c = run_child(dir, "dummy", [] {
        init_sound();
        if (!sound_ready)
            return 3;
        auto end_of_track = [] { Mix_HaltMusic(); on_music_finished(); play_requested_effects(); };
        start_music(0);
        int ok = Mix_PlayingMusic() && current_track == 0 && next_track == 0;
        end_of_track();   // no milestone: the same track again
        ok = ok && Mix_PlayingMusic() && current_track == 0;
        advance_music();
        advance_music();  // two milestones in one play: one switch
        play_requested_effects();
        ok = ok && current_track == 0 && next_track == 1;
        end_of_track();
        ok = ok && Mix_PlayingMusic() && current_track == 1 && next_track == 1;
        end_of_track();
        ok = ok && current_track == 1;
        stop_music();     // silent at once
        ok = ok && Mix_VolumeMusic(-1) == 0;
        end_of_track();   // and nothing follows a stopped track
        ok = ok && !Mix_PlayingMusic() && next_track == -1;
        request_effect(EFFECT_SCORE);
        request_effect(EFFECT_SCORE);
        play_requested_effects();
        ok = ok && Mix_Playing(EFFECT_SCORE) && !Mix_Playing(EFFECT_GEN) && !Mix_Playing(EFFECT_MISS) &&
             !effect_requested[EFFECT_SCORE];
        request_effect(EFFECT_GEN);
        request_effect(EFFECT_MISS);
        play_requested_effects();
        ok = ok && Mix_Playing(0) && Mix_Playing(1) && Mix_Playing(2) && !Mix_Playing(3);
        shutdown_sound();
        return ok ? 0 : 1;
    });
    EXPECT_EQ(c.status, 0) << c.err;
}

// The disk driver's recording of a real run: track 0 from its beginning,
// its repeat, the switch at the end of the play after a milestone, silence
// after a stop, and a restart from the beginning.
TEST_F(Scratch, RecordedMusicRestartsFromItsBeginningAndSwitchesAtTheEnd)
{
    Child c = run_child(dir, "disk", [] {
        init_sound();
        if (!sound_ready)
            return 3;
        run_frames(300);
        start_music(0);
        run_frames(800);
        advance_music();
        run_frames(900);
        stop_music();     // in the middle of a play of track 1
        run_frames(800);
        start_music(0);
        run_frames(600);
        shutdown_sound();
        return 0;
    });
    ASSERT_EQ(c.status, 0) << c.err;
    // 44.1 kHz stereo 16-bit: the left channel, in 1 ms windows of pitch.
    std::string raw = read_file(dir + "/played.raw");
    const int rate = 44100;
    auto sample = [&](size_t i) { return (int)(int16_t)((unsigned char)raw[4 * i] | (unsigned char)raw[4 * i + 1] << 8); };
    size_t frames = raw.size() / 4;
    ASSERT_GT(frames, (size_t)rate * 3);
    auto pitch_at = [&](double ms, double len) {
        size_t from = (size_t)(ms * rate / 1000), n = (size_t)(len * rate / 1000);
        int crossings = 0, loud = 0;
        for (size_t i = from + 1; i < from + n && i < frames; i++) {
            crossings += (sample(i - 1) < 0) != (sample(i) < 0);
            loud += std::abs(sample(i)) > 300;
        }
        return loud < (int)n / 4 ? 0 : (int)std::lround(crossings / 2.0 * 1000.0 / len / 100.0) * 100;
    };
    size_t first = 0;
    while (first < frames && std::abs(sample(first)) <= 40)
        first++;
    double t0 = 1000.0 * first / rate;
    EXPECT_GT(t0, 250.0) << "music before start_music";
    // The plays of 512 ms each, by their pitch in the middle and at the start.
    std::string plays;
    for (int n = 0; n < 3; n++) {
        int mid = pitch_at(t0 + 512.0 * n + 200, 100), start = pitch_at(t0 + 512.0 * n + 10, 80);
        plays += mid == 1000 && start == 500 ? 'A' : mid == 1500 ? 'B' : '?';
    }
    EXPECT_EQ(plays, "AAB") << "track 0 twice, then track 1 after the milestone";
    // Silence from shortly after the stop until the restart, which begins
    // with track 0's first tone.
    double stop = t0 + 300 + 800 + 900 - 300;   // stop_music, 300 ms after the first sound
    size_t again = (size_t)((stop + 600) * rate / 1000);
    while (again < frames && std::abs(sample(again)) <= 40)
        again++;
    ASSERT_LT(again, frames) << "no restart";
    double restart = 1000.0 * again / rate;
    EXPECT_GT(restart - stop, 700.0) << "sound between the stop and the restart";
    EXPECT_EQ(pitch_at(restart + 10, 80), 500) << "the restart did not begin at the beginning";
    EXPECT_EQ(pitch_at(restart + 200, 100), 1000);
}

TEST_F(Scratch, SilentWhenAFileOrTheDeviceIsMissing)
{
    const char* files[5] = {"kiv1.ogg", "kiv2.ogg", "gen.wav", "score.wav", "miss.wav"};
    const char* flags[5] = {"111", "111", "111", "011", "001"};   // effects loaded before the failure
    for (int i = 0; i < 5; i++) {
        std::string path = dir + "/sounds/" + files[i], aside = dir + "/aside";
        ASSERT_EQ(std::rename(path.c_str(), aside.c_str()), 0);
        Child c = run_child(dir, "dummy", init_and_report);
        EXPECT_EQ(c.err, std::string("Couldn't load: sounds/") + files[i] + "\n");
        EXPECT_EQ(c.out, std::string("ready=0 flags=") + flags[i] + "\n");
        ASSERT_EQ(std::rename(aside.c_str(), path.c_str()), 0);
    }
    Child c = run_child(dir, "dummy", init_and_report);
    EXPECT_EQ(c.err, "");
    EXPECT_EQ(c.out, "ready=1 flags=000\n");
    c = run_child(dir, "no-such-driver", init_and_report);
    EXPECT_EQ(c.status, 0);
    EXPECT_TRUE(c.err.rfind("Unable to initialize SDL_AUDIO: ", 0) == 0 || c.err.rfind("Couldn't open audio: ", 0) == 0)
        << c.err;
    EXPECT_EQ(c.out, "ready=0 flags=111\n");
}
