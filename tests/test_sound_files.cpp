// The committed sounds: the generator reproduces them, and they have the
// properties the sound code relies on (block-aligned tracks longer than the
// run-out point, effects that restart without a click).
#include "test_sound_support.h"

#include <SDL.h>
#include <SDL_mixer.h>

using namespace kiv_test;

namespace {

const char* const FILES[5] = {"gen.wav", "score.wav", "miss.wav", "kiv1.ogg", "kiv2.ogg"};
const int BLOCK = 4096;

// Decodes any of the sound files through the mixer at the game's device
// format (16 kHz mono 16-bit).
class Decoder : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("SDL_AUDIODRIVER", "dummy", 0);
        ASSERT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u);
        ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_AUDIO), 0);
        ASSERT_EQ(Mix_OpenAudio(16000, AUDIO_S16LSB, 1, 4096), 0) << Mix_GetError();
    }
    void TearDown() override {
        Mix_CloseAudio();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
    static std::vector<int> decode(const std::string& path) {
        std::vector<int> out;
        Mix_Chunk* c = Mix_LoadWAV_RW(SDL_RWFromFile(path.c_str(), "rb"), 1);
        if (!c) return out;
        const int16_t* s = reinterpret_cast<const int16_t*>(c->abuf);
        out.assign(s, s + c->alen / 2);
        Mix_FreeChunk(c);
        return out;
    }
    static double rms(const std::vector<int>& x, size_t from, size_t n) {
        double e = 0;
        for (size_t i = from; i < from + n; i++) e += (double)x[i] * x[i];
        return std::sqrt(e / n);
    }
};

TEST_F(Decoder, GeneratorReproducesTheCommittedSounds) {
    std::string dir = make_temp_dir();
    ASSERT_TRUE(generate_sounds(dir, false));
    for (const char* f : FILES) {
        std::string fresh = read_file(dir + "/sounds/" + f);
        std::string committed = read_file(std::string(KIV_SOURCE_DIR "/sounds/") + f);
        ASSERT_FALSE(fresh.empty()) << f;
        if (fresh == committed) continue;
        // The WAV files are exact; Vorbis output may differ in its last bits
        // between machines, so the tracks must at least decode alike.
        EXPECT_TRUE(std::string(f).find(".ogg") != std::string::npos) << f << " differs";
        std::vector<int> a = decode(dir + "/sounds/" + f), b = decode(std::string(KIV_SOURCE_DIR "/sounds/") + f);
        ASSERT_EQ(a.size(), b.size()) << f;
        double diff = 0, energy = 0;
        for (size_t i = 0; i < a.size(); i++) {
            diff += (double)(a[i] - b[i]) * (a[i] - b[i]);
            energy += (double)b[i] * b[i];
        }
        EXPECT_LT(diff, energy * 1e-3) << f << " decodes differently";
    }
    remove_tree(dir);
}

TEST_F(Decoder, TracksAreBlockAlignedLoopsLongerThanTheRunOutPoint) {
    std::vector<int> tracks[2] = {decode("sounds/kiv1.ogg"), decode("sounds/kiv2.ogg")};
    for (int t = 0; t < 2; t++) {
        const std::vector<int>& x = tracks[t];
        ASSERT_FALSE(x.empty());
        // A few samples short of whole blocks: the end falls inside the
        // last block, so the mixer reports it while that block is mixed.
        EXPECT_EQ(x.size() % BLOCK, (size_t)(BLOCK - 16)) << t;
        // stop_music runs a track out from 40 s.
        EXPECT_GT(x.size(), 40u * 16000 + 8000) << t;
        EXPECT_LT(x.size(), 45u * 16000) << t;
        // The music carries on through the seam: neither end is a silent tail.
        double whole = rms(x, 0, x.size());
        EXPECT_GT(whole, 1500.0);
        EXPECT_GT(rms(x, x.size() - 1600, 1600), whole * 0.3) << t;
        EXPECT_GT(rms(x, 0, 1600), whole * 0.3) << t;
        int peak = 0;
        for (int v : x) peak = std::max(peak, std::abs(v));
        EXPECT_LT(peak, 28000) << "no headroom left for the effects";
    }
    // Two different pieces.
    EXPECT_NE(tracks[0].size(), tracks[1].size());
}

TEST_F(Decoder, EffectsStartSoftlyAndTheRestartedOnesRepeatSeamlessly) {
    for (const char* f : {"gen.wav", "score.wav", "miss.wav"}) {
        std::vector<int> x = decode(std::string("sounds/") + f);
        ASSERT_GT(x.size(), (size_t)BLOCK) << f;
        // No click at the start: it rises from silence.
        EXPECT_LT(std::abs(x[0]), 100) << f;
        int early = 0;
        for (int i = 0; i < 8; i++) early = std::max(early, std::abs(x[i]));
        EXPECT_LT(early, 1500) << f;
        // Nor at the end.
        EXPECT_LT(std::abs(x.back()), 100) << f;
        int peak = 0;
        for (int v : x) peak = std::max(peak, std::abs(v));
        EXPECT_GT(peak, 8000) << f;
        EXPECT_LT(peak, 24000) << f;
    }
    // Restarted in every frame, the mixer plays the first block over and
    // over: the jump from its last sample to its first is no bigger than the
    // steps inside it.
    for (const char* f : {"gen.wav", "score.wav"}) {
        std::vector<int> x = decode(std::string("sounds/") + f);
        int largest = 0;
        for (int i = 1; i < BLOCK; i++) largest = std::max(largest, std::abs(x[i] - x[i - 1]));
        EXPECT_LE(std::abs(x[0] - x[BLOCK - 1]), largest) << f;
        EXPECT_LT(std::abs(x[0] - x[BLOCK - 1]), 600) << f;
    }
    std::vector<int> miss = decode("sounds/miss.wav");
    EXPECT_GE(miss.size(), 8000u);
    EXPECT_LE(miss.size(), 16000u);
}

} // namespace
