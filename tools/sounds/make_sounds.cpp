// make_sounds OUTDIR [--test-tracks]
//
// Synthesises the game's sounds and writes gen.wav, score.wav, miss.wav,
// kiv1.ogg and kiv2.ogg into OUTDIR. Everything is deterministic (fixed
// noise seeds, fixed Ogg serial numbers), so the committed files under
// sounds/ can be checked against a fresh run. With --test-tracks the two
// tracks are short tones (see make_test_track) for the mixer tests.
#include "synth.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace kiv {

// How a track meets its own start. The mixer notices the end of a track
// only when its decoder runs dry part-way through a block; then it calls the
// finished hook, and the game starts the next play, which begins with the
// following block. A track that starts on a block boundary and is a few
// samples short of a whole number of blocks therefore runs out in the last
// few samples of its last block, and the next play follows right after: the
// loop keeps its beat. (Exactly whole blocks would be worse: the end would
// only be seen one block later, a quarter of a second of silence.) The few
// missing samples are faded over so that the seam doesn't click.
constexpr int LOOP_SHORTFALL = 16;
constexpr int LOOP_FADE_OUT = 32;
constexpr int LOOP_FADE_IN = 24;

std::vector<int16_t> loop_for_mixer(const Samples& loop) {
    Samples s(loop.begin(), loop.end() - LOOP_SHORTFALL);
    const double pi = 3.14159265358979323846;
    for (int i = 0; i < LOOP_FADE_IN; i++) s[i] *= 0.5 - 0.5 * std::cos(pi * i / LOOP_FADE_IN);
    for (int i = 0; i < LOOP_FADE_OUT; i++)
        s[s.size() - 1 - i] *= 0.5 - 0.5 * std::cos(pi * i / LOOP_FADE_OUT);
    return to_pcm16(s);
}

} // namespace kiv

int main(int argc, char** argv) {
    using namespace kiv;
    bool test_tracks = argc == 3 && std::strcmp(argv[2], "--test-tracks") == 0;
    if (argc < 2 || (argc == 3 && !test_tracks) || argc > 3) {
        std::fprintf(stderr, "usage: %s OUTDIR [--test-tracks]\n", argv[0]);
        return 2;
    }
    std::string dir = argv[1];
    bool ok = true;
    ok = ok && write_wav(dir + "/gen.wav", to_pcm16(make_gen_effect()));
    ok = ok && write_wav(dir + "/score.wav", to_pcm16(make_score_effect()));
    ok = ok && write_wav(dir + "/miss.wav", to_pcm16(make_miss_effect()));
    const float quality = 0.35f;
    Samples first = test_tracks ? make_test_track(0) : make_first_track();
    Samples second = test_tracks ? make_test_track(1) : make_second_track();
    for (const Samples* t : {&first, &second})
        if (t->size() % MIXER_BLOCK != 0) {
            std::fprintf(stderr, "a track is not a whole number of mixer blocks\n");
            return 1;
        }
    ok = ok && write_ogg(dir + "/kiv1.ogg", loop_for_mixer(first), quality, 0x4b495631);
    ok = ok && write_ogg(dir + "/kiv2.ogg", loop_for_mixer(second), quality, 0x4b495632);
    if (!ok) {
        std::fprintf(stderr, "%s: could not write the sounds into %s\n", argv[0], dir.c_str());
        return 1;
    }
    return 0;
}
