// The three effects.
//
// The game restarts gen.wav and score.wav in every drawn frame while they
// are requested. The mixer only reads a channel when it fills its next block
// of MIXER_BLOCK samples, so a sound restarted in every frame is heard as its
// first block played again and again. Both are therefore built as a first
// block that repeats seamlessly (every partial has a whole number of cycles
// in it and the envelopes are periodic), and a tail after it that is heard
// once when the requests stop.
#include "synth.h"

#include <cmath>

namespace kiv {

namespace {
const double PI = 3.14159265358979323846;

// A partial with a whole number of cycles per mixer block.
double block_cos(int cycles, int k) { return std::cos(2.0 * PI * cycles * (double)(k % MIXER_BLOCK) / MIXER_BLOCK); }
} // namespace

// A special event is active: a low hum of close pairs of partials that beat
// against each other (the pairs swell once, twice and three times a block,
// and all fall silent together at the block's edge, so each block starts
// from silence and the repeat has no seam), and a breath of band-passed
// noise that swells with them.
Samples make_gen_effect() {
    const int B = MIXER_BLOCK;
    const int tail = 5600;                  // 0.35 s fade once the event is gone
    Samples out(B + tail);
    // Noise that repeats every block: filter the block circularly until the
    // filters' state has settled, then keep the last pass.
    Noise noise(0x47454e31u);
    std::vector<double> white(B), band(B);
    for (double& w : white) w = noise.next();
    double lo1 = 0.0, lo2 = 0.0;
    for (int pass = 0; pass < 3; pass++)
        for (int k = 0; k < B; k++) {
            lo1 += 0.18 * (white[k] - lo1);
            lo2 += 0.035 * (white[k] - lo2);
            band[k] = lo1 - lo2;
        }
    for (int k = 0; k < B + tail; k++) {
        double hum = (block_cos(28, k) - block_cos(29, k)) + 0.6 * (block_cos(56, k) - block_cos(58, k)) +
                     0.3 * (block_cos(84, k) - block_cos(87, k));
        double swell = std::sin(PI * (double)(k % B) / B);
        double breath = band[k % B] * swell * swell;
        double v = 0.4 * hum + 2.2 * breath;
        if (k >= B) v *= 0.5 * (1.0 + std::cos(PI * (double)(k - B) / tail));
        out[k] = v;
    }
    normalise(out, 0.42);
    return out;
}

// The score counts up: a tick-tock of four short blips a block, and a little
// chime after the block that rings once the count has caught up.
Samples make_score_effect() {
    const int B = MIXER_BLOCK;
    const int tail = 2800;
    Samples out(B + tail, 0.0);
    for (int tick = 0; tick < 4; tick++) {
        double f = tick % 2 ? 1350.0 : 1800.0;
        int at = tick * (B / 4);
        for (int i = 0; i < 720; i++) {               // 45 ms, long decayed by then
            double t = (double)i / SOUND_RATE;
            double rise = i < 48 ? 0.5 - 0.5 * std::cos(PI * i / 48.0) : 1.0;
            double env = rise * std::exp(-t / 0.007);
            out[at + i] += env * (std::sin(2.0 * PI * f * t) + 0.3 * std::sin(4.0 * PI * f * t));
        }
    }
    for (int i = 0; i < tail; i++) {
        double t = (double)i / SOUND_RATE;
        double rise = i < 32 ? 0.5 - 0.5 * std::cos(PI * i / 32.0) : 1.0;
        double fall = 0.5 * (1.0 + std::cos(PI * i / tail));
        double env = 0.7 * rise * fall * std::exp(-t / 0.06);
        out[B + i] += env * (std::sin(2.0 * PI * 2093.0 * t) + 0.4 * std::sin(2.0 * PI * 3136.0 * t));
    }
    normalise(out, 0.40);
    return out;
}

// A ball is lost: three falling notes and a long sagging fourth with a wide
// vibrato, on a square and a triangle an octave down.
Samples make_miss_effect() {
    const int total = 14400;                      // 0.9 s
    Samples out(total, 0.0);
    const double notes[3] = {493.88, 466.16, 440.0};
    double phase = 0.0, sub = 0.25;            // the triangle starts at its zero crossing
    for (int k = 0; k < total; k++) {
        double t = (double)k / SOUND_RATE;
        int n = (int)(t / 0.15);
        double f, local, env;
        if (n < 3) {
            f = notes[n];
            local = t - n * 0.15;
            env = std::fmin(1.0, local / 0.005) * (local < 0.12 ? 1.0 : std::fmax(0.0, 1.0 - (local - 0.12) / 0.03));
        } else {
            local = t - 0.45;
            double sag = std::fmin(1.0, local / 0.45);
            f = 415.3 * std::pow(2.0, -5.0 * sag / 12.0) *
                std::pow(2.0, 0.35 / 12.0 * std::sin(2.0 * PI * 7.0 * local));
            env = std::fmin(1.0, local / 0.005) * (1.0 - sag) * (1.0 - sag * 0.3);
        }
        double dt = f / SOUND_RATE;
        double v = 0.55 * pulse_wave(phase, dt, 0.25) + 0.6 * triangle_wave(sub);
        phase += dt;
        if (phase >= 1.0) phase -= 1.0;
        sub += dt * 0.5;
        if (sub >= 1.0) sub -= 1.0;
        out[k] = env * v;
    }
    normalise(out, 0.5);
    return out;
}

} // namespace kiv
