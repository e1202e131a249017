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
#include <vector>

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

// What the disk driver recorded of the music of a script run in dir, in the
// format the game asks the mixer for: 16 kHz, 16-bit, mono.
constexpr double RATE = 16.0;   // samples per ms
std::vector<int> record_music(const std::string& dir, void (*script)())
{
    Child c = run_child(dir, "disk", [script] {
        init_sound();
        if (!sound_ready)
            return 3;
        run_frames(300);
        start_music(0);
        script();
        shutdown_sound();
        return 0;
    });
    EXPECT_EQ(c.status, 0) << c.err;
    std::string raw = read_file(dir + "/played.raw");
    std::vector<int> s(raw.size() / 2);
    for (size_t i = 0; i < s.size(); i++)
        s[i] = (int16_t)((unsigned char)raw[2 * i] | (unsigned char)raw[2 * i + 1] << 8);
    return s;
}

size_t first_sound(const std::vector<int>& s, size_t from, int level)
{
    while (from < s.size() && std::abs(s[from]) <= level)
        from++;
    return from;
}

// Track 0 repeats, a milestone lets the play end and track 1 follow, another
// brings track 0 back, and after a stop nothing more plays.
TEST_F(Scratch, RecordedTracksSwitchAtTheEndOfAPlayAndStop)
{
    std::vector<int> s = record_music(dir, [] {
        run_frames(700);
        advance_music();   // in the second play
        run_frames(500);
        advance_music();   // in the play of track 1
        run_frames(600);
        stop_music();
        run_frames(900);
    });
    const double rate = RATE;
    auto pitch_at = [&](double ms, double len) {   // Hz by zero crossings, 0 when quiet
        size_t from = (size_t)(ms * rate), n = (size_t)(len * rate);
        int crossings = 0, loud = 0;
        for (size_t i = from + 1; i < from + n && i < s.size(); i++) {
            crossings += (s[i - 1] < 0) != (s[i] < 0);
            loud += std::abs(s[i]) > 300;
        }
        return loud < (int)n / 4 ? 0 : (int)std::lround(crossings / 2.0 * 1000.0 / len / 100.0) * 100;
    };
    double t0 = first_sound(s, 0, 40) / rate;
    EXPECT_GT(t0, 250.0) << "music before start_music";
    // The plays of 512 ms: track 0 (A) is 500 Hz then 1000 Hz, track 1 (B) 1500 Hz.
    std::string plays;
    double at = t0;
    for (; pitch_at(at + 150, 80) != 0; at += 512) {
        int start = pitch_at(at + 10, 80), mid = pitch_at(at + 150, 80);
        plays += start == 500 && mid == 1000 ? 'A' : start == 1500 && mid == 1500 ? 'B' : '?';
    }
    size_t b = plays.find('B'), a = plays.find('A', b);
    EXPECT_TRUE(b != std::string::npos && b > 0 && plays.find_first_not_of('A') == b && a != std::string::npos &&
                plays.find_first_not_of('B', b) == a && plays.find_first_not_of('A', a) == std::string::npos)
        << plays << ": track 0 repeated, then track 1, then track 0";
    EXPECT_EQ(first_sound(s, (size_t)(at * rate), 40), s.size()) << "sound after the stop";
}

// The game's own track 0 stopped in the middle and started again sounds
// exactly as at its first start, not like where it was stopped.
TEST_F(Scratch, RecordedTrackRestartsFromItsBeginning)
{
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    std::system(("rm -r '" + dir + "/sounds' && ln -s '" + here + "/sounds' '" + dir + "/sounds'").c_str());
    std::vector<int> s = record_music(dir, [] {
        run_frames(900);
        stop_music();
        run_frames(800);
        start_music(0);
        run_frames(700);
    });
    const auto ms = [](double t) { return static_cast<size_t>(t * RATE); };
    size_t first = first_sound(s, 0, 5), quiet = first + ms(500);
    while (quiet < s.size() && first_sound(s, quiet, 5) < quiet + ms(100))
        quiet += ms(10);
    size_t again = first_sound(s, quiet, 5), length = ms(400);
    ASSERT_LT(again + length, s.size()) << "no restart";
    double diff = 0, energy = 0;
    for (size_t i = 0; i < length; i++) {
        diff += (double)(s[first + i] - s[again + i]) * (s[first + i] - s[again + i]);
        energy += (double)s[first + i] * s[first + i];
    }
    EXPECT_GT(energy, 0.0);
    EXPECT_LT(diff, energy * 1e-4) << "the restart differs from the first start";
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
