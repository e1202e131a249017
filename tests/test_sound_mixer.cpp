// What the mixer really plays: each test runs the sound code in a child
// process on SDL's disk audio driver, which writes the mixed output to a
// file in real time, and reads the recording back. The music tests use
// short generated tracks: track 0 is 128 ms of 500 Hz then 384 ms of
// 1000 Hz, track 1 is 1500 Hz; each plays 512 ms (two mixer blocks).
#include "test_sound_support.h"

#include <SDL.h>
#include <SDL_mixer.h>

#include "media/sound.h"

using namespace kiv;
using namespace kiv_test;

namespace {

// Frames of the main loop for `ms`: optionally requests an effect, then
// plays the requests (which also hands over to the next track).
void run_frames(int ms, int effect = -1) {
    Uint32 end = SDL_GetTicks() + ms;
    while (SDL_GetTicks() < end) {
        if (effect >= 0) request_effect(effect);
        play_requested_effects();
        SDL_Delay(10);
    }
}

struct Session {
    std::string dir;        // working directory of the child
    std::string recording;  // the disk driver's file
    ChildResult result;
    Recording rec;
};

// Runs `script` between init_sound and shutdown_sound with the disk driver.
Session record(const std::string& cwd, const std::function<void()>& script, const std::string& temp) {
    Session s;
    s.dir = cwd;
    s.recording = temp + "/played.raw";
    s.result = run_child(
        [&] {
            init_sound();
            if (!sound_ready) return 3;
            script();
            shutdown_sound();
            SDL_Quit();
            return 0;
        },
        cwd, {{"SDL_AUDIODRIVER", "disk"}, {"SDL_DISKAUDIOFILE", s.recording}});
    s.rec = read_recording(s.recording);
    return s;
}

class MixerRecording : public ::testing::Test {
protected:
    std::string temp;
    void SetUp() override {
        temp = make_temp_dir();
        ASSERT_FALSE(temp.empty());
    }
    void TearDown() override {
        if (std::getenv("KIV_KEEP_RECORDINGS")) std::printf("recording kept in %s\n", temp.c_str());
        else remove_tree(temp);
    }
    // A working directory whose sounds/ holds the short test tracks.
    std::string test_tracks() {
        EXPECT_TRUE(generate_sounds(temp, true));
        return temp;
    }
};

double ms_pitch(const Recording& r, size_t start, double from_ms, double to_ms) {
    return r.pitch(start + r.frame(from_ms), r.frame(to_ms - from_ms));
}

TEST_F(MixerRecording, MusicPlaysOnlyBetweenStartAndStopAndRestartsFromItsBeginning) {
    Session s = record(test_tracks(), [] {
        run_frames(400);
        start_music(0);
        run_frames(800);
        stop_music();        // in the middle of the second play
        run_frames(700);
        start_music(0);
        run_frames(700);
        stop_music();
        run_frames(500);
    }, temp);
    ASSERT_EQ(s.result.exit_code, 0) << s.result.err;
    const Recording& r = s.rec;
    ASSERT_TRUE(r.channels_equal);
    ASSERT_GT(r.left.size(), r.frame(2500.0)) << "the recording is shorter than the run";

    size_t first = r.first_sound(0);
    EXPECT_GT(r.ms(first), 300.0) << "music before start_music";
    EXPECT_LT(r.rms(0, first), 1.0);
    // Track 0 from its beginning, and its repeat.
    EXPECT_NEAR(ms_pitch(r, first, 2, 120), 500, 40);
    EXPECT_NEAR(ms_pitch(r, first, 140, 500), 1000, 40);
    EXPECT_NEAR(ms_pitch(r, first, 515, 630), 500, 40);
    // Once stop_music reaches the mixer (blocks are mixed ahead, so the
    // play in progress may still finish) no further play starts.
    size_t quiet = first + r.frame(512);
    while (quiet < r.left.size() && r.rms(quiet, r.frame(100)) > 1.0) quiet += r.frame(1);
    EXPECT_LT(r.ms(quiet - first), 1024.0 + 5.0) << "a third play started after stop_music";
    size_t again = r.first_sound(quiet);
    EXPECT_GT(r.ms(again - quiet), 300.0) << "the stopped track went on playing";
    ASSERT_LT(again + r.frame(520), r.left.size());
    // The restart begins with the track's first tone, not with what the
    // decoder held when the track was stopped in the middle.
    EXPECT_NEAR(ms_pitch(r, again, 0, 10), 500, 120);
    EXPECT_NEAR(ms_pitch(r, again, 0, 120), 500, 40);
    EXPECT_NEAR(ms_pitch(r, again, 140, 400), 1000, 40);
    // And the second stop silences it for good.
    size_t end = again + r.frame(1024 + 8);
    if (end < r.left.size()) {
        EXPECT_LT(r.rms(end, r.left.size() - end), 1.0);
    }
    EXPECT_EQ(r.clipped, 0);
}

TEST_F(MixerRecording, MilestoneSwitchesTrackAtTheEndOfThePlayWithoutAGap) {
    Session s = record(test_tracks(), [] {
        run_frames(300);
        start_music(0);
        advance_music();
        advance_music();     // two milestones during one play: one switch
        run_frames(1400);
        advance_music();     // back to track 0 when the current play ends
        run_frames(1400);
        stop_music();
        run_frames(300);
    }, temp);
    ASSERT_EQ(s.result.exit_code, 0) << s.result.err;
    const Recording& r = s.rec;
    size_t first = r.first_sound(0);
    ASSERT_LT(first, r.left.size());

    // Every play lasts exactly 512 ms: classify them by their pitch (the
    // last one may be cut short by the stop).
    std::string plays;
    double worst_gap = 0;
    for (int n = 0; n < 8; n++) {
        size_t at = first + r.frame(512.0 * n);
        bool sounding = at + r.frame(320) <= r.left.size();
        for (int w = 0; sounding && w < 32; w++) sounding = r.rms(at + r.frame(10.0 * w), r.frame(10)) > 100;
        if (!sounding) break;
        double middle = ms_pitch(r, at, 200, 300);
        if (std::fabs(middle - 1000) < 40) {
            plays += 'A';
            EXPECT_NEAR(ms_pitch(r, at, 3, 120), 500, 40) << "track 0 did not start at its beginning, play " << n;
        } else if (std::fabs(middle - 1500) < 40) {
            plays += 'B';
        } else {
            plays += '?';
        }
        // The seam before this play: the stretch around the block boundary
        // where the output is nearly silent.
        if (n > 0) {
            size_t lo = at - r.frame(12), hi = at + r.frame(12), quiet = 0, run = 0;
            for (size_t i = lo; i < hi; i++) {
                run = std::abs(r.left[i]) < 300 ? run + 1 : 0;
                quiet = std::max(quiet, run);
            }
            worst_gap = std::max(worst_gap, r.ms(quiet));
        }
    }
    // A, then B repeating, then A again from the play after the third advance.
    ASSERT_GE(plays.size(), 5u) << plays;
    EXPECT_EQ(plays.substr(0, 3), "ABB") << plays;
    size_t back = plays.find('A', 1);
    ASSERT_NE(back, std::string::npos) << plays;
    EXPECT_LE(back, 4u) << plays;
    EXPECT_EQ(plays.find_first_not_of('A', back), std::string::npos) << plays;
    EXPECT_EQ(plays.find('?'), std::string::npos) << plays;
    std::printf("plays %s, longest silence at a seam %.2f ms\n", plays.c_str(), worst_gap);
    EXPECT_LT(worst_gap, 4.0);
}

// Effects requested in every frame, as events and the count-up do.
TEST_F(MixerRecording, EffectsAreMixedWhileRequestedWithoutClipping) {
    Session s = record(KIV_SOURCE_DIR, [] {
        run_frames(300);
        run_frames(1000, EFFECT_GEN);
        run_frames(900);
        run_frames(1000, EFFECT_SCORE);
        run_frames(700);
        request_effect(EFFECT_MISS);
        run_frames(1200);
    }, temp);
    ASSERT_EQ(s.result.exit_code, 0) << s.result.err;
    const Recording& r = s.rec;
    EXPECT_EQ(r.clipped, 0);

    size_t gen = r.first_sound(0);
    EXPECT_GT(r.ms(gen), 250.0);
    EXPECT_LT(r.rms(0, gen), 1.0);
    // The RMS envelope in 32 ms windows over the three sounds.
    auto envelope = [&](size_t from, int windows, double& low, double& high) {
        low = 1e9;
        high = 0;
        std::string line;
        for (int w = 0; w < windows; w++) {
            double v = r.rms(from + r.frame(32.0 * w), r.frame(32));
            low = std::min(low, v);
            high = std::max(high, v);
            line += std::to_string((int)v) + " ";
        }
        return line;
    };
    // Three sounds, each ending before the next begins.
    auto parts = r.sounds();
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts[0].first, gen);
    double low, high;
    std::string e = envelope(gen, 32, low, high);
    std::printf("gen.wav requested each frame, RMS per 32 ms: %s\n", e.c_str());
    EXPECT_GT(low, 1000.0) << "the hum drops out while requested";
    EXPECT_LT(high, 12000.0);
    // Requested for a second, restarted at each block the mixer fills, then
    // its fade-out tail once.
    double length = r.ms(parts[0].second - gen);
    EXPECT_GT(length, 512.0 + 600.0);
    EXPECT_LT(length, 1000.0 + 512.0 + 610.0 + 60.0);

    size_t score = parts[1].first;
    e = envelope(score, 32, low, high);
    std::printf("score.wav requested each frame, RMS per 32 ms: %s\n", e.c_str());
    EXPECT_GT(high, 1000.0);
    // Ticks: each 64 ms holds one tick and its decay.
    for (int t = 0; t < 8; t++) {
        size_t at = score + r.frame(64.0 * t);
        EXPECT_GT(r.rms(at, r.frame(16)), 4 * r.rms(at + r.frame(40), r.frame(20))) << "tick " << t;
    }
    length = r.ms(parts[1].second - score);
    EXPECT_GT(length, 512.0 + 400.0);
    EXPECT_LT(length, 1000.0 + 512.0 + 430.0 + 60.0);

    size_t miss = parts[2].first;
    e = envelope(miss, 30, low, high);
    std::printf("miss.wav, RMS per 32 ms: %s\n", e.c_str());
    EXPECT_GT(r.rms(miss, r.frame(400)), 1000.0);
    EXPECT_NEAR(r.ms(parts[2].second - miss), 900.0, 60.0);
}

// The game's own tracks: a stopped and restarted track 0 sounds exactly as
// at its first start.
TEST_F(MixerRecording, RealTrackRestartsFromItsBeginningAfterAStop) {
    Session s = record(KIV_SOURCE_DIR, [] {
        run_frames(300);
        start_music(0);
        run_frames(900);
        stop_music();
        run_frames(800);
        start_music(0);
        run_frames(700);
    }, temp);
    ASSERT_EQ(s.result.exit_code, 0) << s.result.err;
    const Recording& r = s.rec;
    size_t first = r.first_sound(0, 5);
    // The run-out is muted: find the silence, then the restart.
    size_t quiet = first + r.frame(512);
    while (quiet < r.left.size() && r.rms(quiet, r.frame(100)) > 0.5) quiet += r.frame(1);
    ASSERT_LT(quiet, r.left.size());
    size_t again = r.first_sound(quiet, 5);
    ASSERT_LT(again + r.frame(400), r.left.size());
    EXPECT_GT(r.ms(again - quiet), 200.0);
    // Both plays start on a mixer block; compare 400 ms sample by sample.
    double diff = 0, energy = 0;
    size_t shift = again - first;
    for (size_t i = first; i < first + r.frame(400); i++) {
        double d = r.left[i] - r.left[i + shift];
        diff += d * d;
        energy += (double)r.left[i] * r.left[i];
    }
    EXPECT_GT(energy, 0.0);
    EXPECT_LT(diff, energy * 1e-4) << "the restart differs from the first start";
}

} // namespace
