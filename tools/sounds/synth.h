// Small synthesiser for the game's sounds: band-limited chip voices, noise
// drums, a step sequencer that renders into a looping buffer, and writers
// for 16-bit WAV and Ogg Vorbis files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kiv {

constexpr int SOUND_RATE = 16000;        // every file, to match the mixer's device
constexpr int MIXER_BLOCK = 4096;        // the mixer's block, in sample frames

using Samples = std::vector<double>;     // mono, nominal range -1..1

// Deterministic noise (xorshift32); every sound owns its generator.
struct Noise {
    uint32_t state;
    explicit Noise(uint32_t seed) : state(seed ? seed : 1u) {}
    double next();                       // uniform in [-1, 1)
};

double midi_to_hz(double note);
// Band-limited pulse (PolyBLEP); phase in [0, 1), dt = frequency / rate.
double pulse_wave(double phase, double dt, double duty);
double triangle_wave(double phase);

// Voices of the music.
enum Voice { VOICE_LEAD, VOICE_LEAD_THIN, VOICE_HARMONY, VOICE_ARP, VOICE_BASS };
enum Drum { DRUM_KICK, DRUM_SNARE, DRUM_HAT, DRUM_OPEN_HAT };

// A piece rendered on a grid of sixteenth-note steps into a buffer whose
// length is exactly the loop: whatever rings past the end wraps round to the
// start, so the piece repeats without a seam.
struct Piece {
    int step_samples;
    int steps;
    Samples out;
    Noise noise;
    Piece(int bars, int step_samples_, uint32_t seed);
    void note(Voice v, int step, int length, double midi, double gain);
    void drum(Drum d, int step, double gain);
    // Melody in text: "E5:2 G5:2 -:4 C#6:8", name:length in steps, '-' a rest.
    // Returns the number of steps it covers.
    int melody(Voice v, int step, const char* text, double gain, int transpose = 0);
};

// Parses "C#5", "Bb4"... into a MIDI note number; -1 for "-".
int parse_note(const std::string& name);

// Scales so that the largest magnitude is `peak`.
void normalise(Samples& s, double peak);
std::vector<int16_t> to_pcm16(const Samples& s);

bool write_wav(const std::string& path, const std::vector<int16_t>& pcm);
// Vorbis VBR at the given quality, fixed stream serial number.
bool write_ogg(const std::string& path, const std::vector<int16_t>& pcm,
               float quality, int serial);

// The sounds.
Samples make_gen_effect();
Samples make_score_effect();
Samples make_miss_effect();
Samples make_first_track();
Samples make_second_track();
// Short tones standing in for the tracks in the mixer tests.
Samples make_test_track(int index);

// Cuts a rendered loop for the mixer: see make_sounds.cpp.
std::vector<int16_t> loop_for_mixer(const Samples& loop);

} // namespace kiv
