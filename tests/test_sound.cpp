// Music state machine, effect requests and the failure paths, on the real
// mixer (dummy driver, or a bad one).
#include "test_sound_support.h"

#include <atomic>

#include <SDL.h>
#include <SDL_mixer.h>

#include "frame/game.h"
#include "frame/headless.h"
#include "media/sound.h"

using namespace kiv;
using namespace kiv_test;

namespace {

std::atomic<int> channel_done[8];
void count_done(int channel) {
    if (channel >= 0 && channel < 8) channel_done[channel]++;
}

// The game's sounds from the source tree on the dummy driver, opened and
// closed again around every test.
class SoundMixer : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("SDL_AUDIODRIVER", "dummy", 0);
        ASSERT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u) << "an earlier test left the audio open";
        init_sound();
        ASSERT_EQ(sound_ready, 1);
        for (auto& c : channel_done) c = 0;
        Mix_ChannelFinished(count_done);
    }
    void TearDown() override {
        Mix_ChannelFinished(nullptr);
        shutdown_sound();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        for (int& r : effect_requested) r = 0;
    }
    // What the mixer does when a track has played to its end, then the
    // main thread's next frame.
    static void end_track_and_run_frame() {
        Mix_HaltMusic();
        on_music_finished();
        play_requested_effects();
    }
};

TEST_F(SoundMixer, TrackRepeatsUntilAMilestoneThenSwitchesOnce) {
    start_music(0);
    EXPECT_TRUE(Mix_PlayingMusic());
    EXPECT_EQ(current_track, 0);
    EXPECT_EQ(next_track, 0);

    end_track_and_run_frame();   // no milestone: the same track again
    EXPECT_TRUE(Mix_PlayingMusic());
    EXPECT_EQ(current_track, 0);

    advance_music();             // switch pending; the track plays on
    advance_music();             // a second milestone in the same play
    EXPECT_EQ(current_track, 0);
    EXPECT_EQ(next_track, 1);
    play_requested_effects();    // a frame without an end changes nothing
    EXPECT_EQ(current_track, 0);

    end_track_and_run_frame();
    EXPECT_TRUE(Mix_PlayingMusic());
    EXPECT_EQ(current_track, 1);
    EXPECT_EQ(next_track, 1);
    end_track_and_run_frame();   // and now the other track repeats
    EXPECT_EQ(current_track, 1);

    advance_music();
    EXPECT_EQ(next_track, 0);
    end_track_and_run_frame();
    EXPECT_EQ(current_track, 0);
}

TEST_F(SoundMixer, StoppedMusicIsSilentAndNothingFollows) {
    start_music(0);
    advance_music();
    stop_music();
    EXPECT_EQ(next_track, -1);
    EXPECT_EQ(Mix_VolumeMusic(-1), 0) << "a stopped track must not be heard while it runs out";
    // The end of the track that runs out starts nothing.
    end_track_and_run_frame();
    EXPECT_FALSE(Mix_PlayingMusic());
    // An end reported just before the stop is forgotten too.
    start_music(1);
    Mix_HaltMusic();
    on_music_finished();
    stop_music();
    play_requested_effects();
    EXPECT_FALSE(Mix_PlayingMusic());
    // A new game starts track 0 at full volume.
    start_music(0);
    EXPECT_TRUE(Mix_PlayingMusic());
    EXPECT_EQ(Mix_VolumeMusic(-1), MIX_MAX_VOLUME);
    EXPECT_EQ(current_track, 0);
    EXPECT_EQ(next_track, 0);
    stop_music();
    start_music(0);              // also right after a stop, while running out
    EXPECT_EQ(Mix_VolumeMusic(-1), MIX_MAX_VOLUME);
}

TEST_F(SoundMixer, EffectRequestsPlayOncePerFrameEachOnItsChannel) {
    // Three requests in one frame give one play.
    request_effect(EFFECT_SCORE);
    request_effect(EFFECT_SCORE);
    request_effect(EFFECT_SCORE);
    EXPECT_EQ(effect_requested[EFFECT_SCORE], 1);
    play_requested_effects();
    EXPECT_EQ(effect_requested[EFFECT_SCORE], 0);
    EXPECT_TRUE(Mix_Playing(1));
    EXPECT_FALSE(Mix_Playing(0));
    EXPECT_FALSE(Mix_Playing(2));
    // A frame without a request leaves the sound alone; a new request
    // restarts it (the mixer reports the interrupted play as finished).
    play_requested_effects();
    EXPECT_EQ(channel_done[1], 0);
    request_effect(EFFECT_SCORE);
    play_requested_effects();
    EXPECT_EQ(channel_done[1], 1);

    // All three in one frame sound together, effect k on channel k.
    request_effect(EFFECT_MISS);
    request_effect(EFFECT_GEN);
    request_effect(EFFECT_SCORE);
    play_requested_effects();
    const char* files[3] = {"sounds/gen.wav", "sounds/score.wav", "sounds/miss.wav"};
    for (int k = 0; k < EFFECT_COUNT; k++) {
        EXPECT_TRUE(Mix_Playing(k)) << k;
        EXPECT_EQ(effect_requested[k], 0);
        Mix_Chunk* chunk = Mix_GetChunk(k);
        ASSERT_NE(chunk, nullptr);
        // The files are 16 kHz mono 16-bit like the device: the chunk is the data.
        EXPECT_EQ(chunk->alen + 44, read_file(files[k]).size()) << files[k];
    }
    for (int c = 3; c < 8; c++) EXPECT_FALSE(Mix_Playing(c)) << c;
}

// With sound never opened, every operation is accepted and does nothing.
TEST(SoundOff, OperationsAreHarmlessWithoutADevice) {
    ASSERT_EQ(sound_ready, 0);
    current_track = 0;
    next_track = 0;
    start_music(1);
    EXPECT_EQ(current_track, 0);
    EXPECT_EQ(next_track, 0);
    advance_music();                // the only one that works regardless
    EXPECT_EQ(next_track, 1);
    on_music_finished();
    request_effect(EFFECT_MISS);
    play_requested_effects();
    EXPECT_EQ(effect_requested[EFFECT_MISS], 1) << "requests stay pending; nothing plays them";
    stop_music();
    EXPECT_EQ(next_track, 1);
    shutdown_sound();
    EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u);
    effect_requested[EFFECT_MISS] = 0;
    next_track = 0;
}

// Child: sets every request flag, runs init_sound, prints what it left and
// checks that the silent game can still be driven.
int init_and_report() {
    for (int& r : effect_requested) r = 1;
    init_sound();
    int opened = Mix_QuerySpec(nullptr, nullptr, nullptr);
    std::printf("ready=%d opened=%d flags=%d%d%d\n", (int)sound_ready, opened, effect_requested[0],
                effect_requested[1], effect_requested[2]);
    start_music(0);
    advance_music();
    request_effect(EFFECT_MISS);
    play_requested_effects();
    std::printf("music=%d\n", opened ? Mix_PlayingMusic() : 0);
    stop_music();
    shutdown_sound();
    SDL_Quit();
    return 0;
}

TEST(SoundFailure, EachMissingFileIsNamedAndLeavesTheGameSilent) {
    std::string dir = make_temp_dir();
    ASSERT_TRUE(generate_sounds(dir, true));
    const char* files[5] = {"kiv1.ogg", "kiv2.ogg", "gen.wav", "score.wav", "miss.wav"};
    // Request flags left set: the effects from the failing one on are not loaded.
    const char* flags[5] = {"111", "111", "111", "011", "001"};
    for (int i = 0; i < 5; i++) {
        std::string path = dir + "/sounds/" + files[i], aside = dir + "/aside";
        ASSERT_EQ(std::rename(path.c_str(), aside.c_str()), 0);
        ChildResult r = run_child(init_and_report, dir, {{"SDL_AUDIODRIVER", "dummy"}});
        EXPECT_EQ(r.exit_code, 0) << files[i];
        EXPECT_EQ(r.err, std::string("Couldn't load: sounds/") + files[i] + "\n");
        EXPECT_EQ(r.out, std::string("ready=0 opened=1 flags=") + flags[i] + "\nmusic=0\n") << files[i];
        ASSERT_EQ(std::rename(aside.c_str(), path.c_str()), 0);
    }
    ChildResult r = run_child(init_and_report, dir, {{"SDL_AUDIODRIVER", "dummy"}});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "ready=1 opened=1 flags=000\nmusic=1\n");
    remove_tree(dir);
}

TEST(SoundFailure, AMissingAudioDeviceLeavesTheGameSilent) {
    ChildResult r = run_child(init_and_report, "", {{"SDL_AUDIODRIVER", "nonexistent"}});
    EXPECT_EQ(r.exit_code, 0);
    bool known = r.err.rfind("Unable to initialize SDL_AUDIO: ", 0) == 0 || r.err.rfind("Couldn't open audio: ", 0) == 0;
    EXPECT_TRUE(known) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(r.out.substr(0, 22), "ready=0 opened=0 flags") << r.out;
}

// -nosound: a whole headless run, games included, never starts SDL's audio.
TEST(SoundFailure, NoSoundRunNeverStartsTheAudioSubsystem) {
    if (read_file(KIV_SOURCE_DIR "/images/ball_b7.png").empty()) GTEST_SKIP() << "no pictures yet";
    ChildResult r = run_child(
        [] {
            sound_off = 1;
            if (!start_headless(7)) return 2;
            int seen = 0;
            for (int round = 0; round < 3; round++) {
                new_game();
                for (int f = 0; f < 150; f++) {
                    run_headless_frame(1 + f % 5);
                    seen |= SDL_WasInit(SDL_INIT_AUDIO) != 0;
                }
                run_headless_frame(1, 1);   // Escape: back to the title
                for (int f = 0; f < 20; f++) run_headless_frame(2);
                seen |= SDL_WasInit(SDL_INIT_AUDIO) != 0;
            }
            std::printf("audio=%d ready=%d\n", seen, (int)sound_ready);
            return 0;
        },
        KIV_SOURCE_DIR, {{"SDL_AUDIODRIVER", "dummy"}, {"SDL_VIDEODRIVER", "dummy"}});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "audio=0 ready=0\n");
}

} // namespace
