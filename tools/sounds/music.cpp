// The two music tracks. Each is a loop whose length is a whole number of
// mixer blocks (see loop_for_mixer), on a sixteenth-note grid: the tempo is
// chosen to make that come out exactly.
#include "synth.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kiv {

namespace {

struct Chord {
    int root;      // pitch class, C = 0
    int third;     // 3 minor, 4 major
    int seventh;   // 0 none, 10 dominant
};

Chord parse_chord(const char* name) {
    static const int base[7] = {9, 11, 0, 2, 4, 5, 7};
    Chord c{base[name[0] - 'A'], 4, 0};
    const char* p = name + 1;
    if (*p == '#') { c.root = (c.root + 1) % 12; p++; }
    else if (*p == 'b') { c.root = (c.root + 11) % 12; p++; }
    if (*p == 'm') { c.third = 3; p++; }
    if (*p == '7') c.seventh = 10;
    return c;
}

// Chords, two per bar (one per half bar), separated by spaces.
std::vector<Chord> parse_chords(const char* text) {
    std::vector<Chord> out;
    char buf[16];
    const char* p = text;
    while (*p) {
        while (*p == ' ') p++;
        if (!*p) break;
        size_t n = 0;
        while (p[n] && p[n] != ' ' && n < sizeof buf - 1) { buf[n] = p[n]; n++; }
        buf[n] = 0;
        out.push_back(parse_chord(buf));
        p += n;
    }
    return out;
}

// The tone of a chord nearest above `floor`.
int tone_above(int pitch_class, int floor) {
    int m = floor + ((pitch_class - floor) % 12 + 12) % 12;
    return m;
}

enum BassStyle { BASS_OCTAVE, BASS_WALK, BASS_DRIVE, BASS_GALLOP };

void bass_half_bar(Piece& p, int step, const Chord& c, BassStyle style, double gain) {
    int root = 36 + c.root;
    int fifth = root + 7;
    switch (style) {
    case BASS_OCTAVE:
        for (int i = 0; i < 4; i++) p.note(VOICE_BASS, step + 2 * i, 2, (i & 1) ? root + 12 : root, gain);
        break;
    case BASS_WALK: {
        const int notes[4] = {root, fifth, root + 12, fifth};
        for (int i = 0; i < 4; i++) p.note(VOICE_BASS, step + 2 * i, 2, notes[i], gain);
        break;
    }
    case BASS_DRIVE:
        for (int i = 0; i < 4; i++) p.note(VOICE_BASS, step + 2 * i, 2, root, gain);
        break;
    case BASS_GALLOP:
        for (int i = 0; i < 2; i++) {
            p.note(VOICE_BASS, step + 4 * i, 2, root, gain);
            p.note(VOICE_BASS, step + 4 * i + 2, 1, root + 12, gain * 0.8);
            p.note(VOICE_BASS, step + 4 * i + 3, 1, root, gain * 0.8);
        }
        break;
    }
}

// Off-beat chord stabs.
void stabs_half_bar(Piece& p, int step, const Chord& c, double gain) {
    int tones[3] = {tone_above(c.root, 57), tone_above(c.root + c.third, 57), tone_above(c.root + 7, 57)};
    for (int s : {2, 6})
        for (int t : tones) p.note(VOICE_HARMONY, step + s, 2, t, gain);
}

// Rising sixteenth-note arpeggio over the chord.
void arp_half_bar(Piece& p, int step, const Chord& c, double gain) {
    int base = tone_above(c.root, 67);
    int tones[4] = {base, base + c.third, base + 7, c.seventh ? base + c.seventh : base + 12};
    for (int i = 0; i < 8; i++) p.note(VOICE_ARP, step + i, 1, tones[i % 4], gain * (i % 4 == 0 ? 1.0 : 0.8));
}

void melody_bars(Piece& p, Voice v, int bar, const char* const* bars, int count, double gain,
                 int transpose = 0) {
    for (int i = 0; i < count; i++) {
        int steps = p.melody(v, (bar + i) * 16, bars[i], gain, transpose);
        if (steps != 16) {
            std::fprintf(stderr, "bar %d of a melody has %d steps: %s\n", bar + i + 1, steps, bars[i]);
            std::exit(2);
        }
    }
}

// Drum grooves, one bar each.
enum Groove { GROOVE_BASIC, GROOVE_BUSY, GROOVE_HALF, GROOVE_FLOOR, GROOVE_SYNCOPATED };

void groove_bar(Piece& p, int bar, Groove g, bool fill) {
    int s = bar * 16;
    const double kick = 0.55, snare = 0.36, hat = 0.2, open_hat = 0.16;
    switch (g) {
    case GROOVE_BASIC:
        p.drum(DRUM_KICK, s, kick);
        p.drum(DRUM_KICK, s + 8, kick);
        if (bar % 2) p.drum(DRUM_KICK, s + 10, kick * 0.8);
        for (int i = 0; i < 16; i += 2) p.drum(DRUM_HAT, s + i, i % 4 ? hat * 0.7 : hat);
        break;
    case GROOVE_BUSY:
        p.drum(DRUM_KICK, s, kick);
        p.drum(DRUM_KICK, s + 6, kick * 0.8);
        p.drum(DRUM_KICK, s + 8, kick);
        for (int i = 0; i < 16; i++) p.drum(DRUM_HAT, s + i, i % 2 ? hat * 0.5 : hat);
        break;
    case GROOVE_HALF:
        p.drum(DRUM_KICK, s, kick);
        p.drum(DRUM_KICK, s + 10, kick * 0.8);
        for (int i = 0; i < 16; i += 2) p.drum(DRUM_HAT, s + i, hat * 0.8);
        break;
    case GROOVE_FLOOR:
        for (int i = 0; i < 16; i += 4) p.drum(DRUM_KICK, s + i, kick);
        for (int i = 2; i < 16; i += 4) p.drum(DRUM_OPEN_HAT, s + i, open_hat);
        break;
    case GROOVE_SYNCOPATED:
        p.drum(DRUM_KICK, s, kick);
        p.drum(DRUM_KICK, s + 6, kick * 0.85);
        p.drum(DRUM_KICK, s + 10, kick * 0.85);
        for (int i = 0; i < 16; i++) p.drum(DRUM_HAT, s + i, i % 2 ? hat * 0.45 : hat * 0.9);
        break;
    }
    if (g == GROOVE_HALF) {
        p.drum(DRUM_SNARE, s + 8, snare);
    } else if (!fill) {
        p.drum(DRUM_SNARE, s + 4, snare);
        p.drum(DRUM_SNARE, s + 12, snare);
    }
    if (fill) {
        p.drum(DRUM_SNARE, s + 4, snare);
        const int hits[] = {10, 12, 13, 14, 15};
        for (int i = 0; i < 5; i++) p.drum(DRUM_SNARE, s + hits[i], snare * (0.6 + 0.1 * i));
    }
}

} // namespace

// Bright C major, about 141 beats a minute, 24 bars: a tune, the tune again
// with an echo and a higher ending, and a bridge whose last bar climbs back
// to the tune's first note.
Samples make_first_track() {
    const int bars = 24;
    Piece p(bars, 1696, 0x4b495631u);
    const char* tune[8] = {
        "E5:2 G5:2 C6:4 B5:2 G5:2 E5:4",
        "D5:2 G5:2 B5:4 A5:2 G5:2 D5:4",
        "C5:2 E5:2 A5:4 G5:2 E5:2 C5:2 E5:2",
        "F5:3 E5:1 F5:2 A5:2 G5:6 -:2",
        "E5:2 G5:2 C6:4 D6:2 C6:2 G5:4",
        "B5:2 A5:2 G5:2 D5:2 G5:4 B5:4",
        "A5:2 C6:2 A5:2 F5:2 G5:2 B5:2 D6:4",
        "C6:6 -:2 G5:2 E5:2 G5:2 -:2",
    };
    const char* higher_ending[4] = {
        "G5:2 C6:2 E6:4 D6:2 C6:2 G5:4",
        "B5:2 D6:2 G6:4 F6:2 D6:2 B5:4",
        "A5:2 C6:2 F6:2 E6:2 D6:4 B5:4",
        "C6:4 G5:2 E5:2 C5:4 -:4",
    };
    const char* bridge[8] = {
        "A5:6 G5:2 F5:4 C6:4",
        "B5:6 A5:2 G5:4 D6:4",
        "G5:4 B5:4 E6:6 D6:2",
        "C6:4 B5:2 A5:2 E5:8",
        "F5:2 A5:2 C6:2 F6:2 E6:4 C6:4",
        "D6:2 B5:2 G5:2 B5:2 D6:4 G6:4",
        "F6:4 E6:2 D6:2 A5:4 F5:4",
        "G5:2 A5:2 B5:2 D6:2 F6:2 D6:2 B5:2 G5:2",
    };
    std::vector<Chord> chords = parse_chords(
        "C C G G Am Am F F C C G G F G C C "
        "C C G G Am Am F F C C G G F G C C "
        "F F G G Em Em Am Am F F G G Dm Dm G7 G7");
    const double lead = 0.30, echo = 0.09;
    melody_bars(p, VOICE_LEAD, 0, tune, 8, lead);
    melody_bars(p, VOICE_LEAD, 8, tune, 4, lead);
    melody_bars(p, VOICE_LEAD, 12, higher_ending, 4, lead);
    melody_bars(p, VOICE_LEAD, 16, bridge, 8, lead);
    // The echo: the tune three sixteenths late on a quieter voice.
    for (int b = 8; b < 24; b++) {
        const char* text = b < 12 ? tune[b - 8] : b < 16 ? higher_ending[b - 12] : bridge[b - 16];
        p.melody(VOICE_ARP, b * 16 + 3, text, echo);
    }
    for (int h = 0; h < bars * 2; h++) {
        const Chord& c = chords[h];
        int step = h * 8, bar = h / 2;
        BassStyle style = bar < 8 ? BASS_OCTAVE : bar < 16 ? BASS_WALK : BASS_DRIVE;
        bass_half_bar(p, step, c, style, 0.40);
        if (bar < 8 || bar >= 16) stabs_half_bar(p, step, c, bar < 8 ? 0.07 : 0.05);
        if (bar >= 8 && bar < 16) arp_half_bar(p, step, c, 0.06);
    }
    for (int b = 0; b < bars; b++) {
        Groove g = b < 8 ? GROOVE_BASIC : b < 16 ? GROOVE_BUSY : b < 20 ? GROOVE_HALF : GROOVE_BUSY;
        groove_bar(p, b, g, b == 7 || b == 15 || b == 23);
    }
    normalise(p.out, 0.55);
    return p.out;
}

// Driving A minor, about 163 beats a minute, 28 bars on a thinner lead:
// a tune, a middle part, the tune with a new ending, and four bars that turn
// on E major back to A minor.
Samples make_second_track() {
    const int bars = 28;
    Piece p(bars, 1472, 0x4b495632u);
    const char* tune[8] = {
        "A4:2 C5:2 E5:2 A5:2 G5:2 E5:2 D5:2 E5:2",
        "F5:2 E5:2 C5:2 A4:2 C5:4 F5:4",
        "E5:2 G5:2 C6:2 G5:2 E5:2 G5:2 C6:4",
        "B5:4 A5:2 G5:2 D5:4 -:2 B4:2",
        "A4:2 C5:2 E5:2 A5:2 B5:2 C6:2 B5:2 A5:2",
        "C6:4 A5:2 F5:2 A5:4 C6:4",
        "D6:4 B5:2 G5:2 B5:2 D6:2 G6:4",
        "G#5:4 B5:4 E6:6 -:2",
    };
    const char* middle[8] = {
        "A5:6 C6:2 A5:4 F5:4",
        "B5:6 D6:2 B5:4 G5:4",
        "G5:2 B5:2 E6:4 D6:2 B5:2 G5:4",
        "A5:4 E5:4 C5:4 E5:4",
        "F5:2 A5:2 C6:2 E6:2 D6:4 C6:4",
        "B5:2 D6:2 G6:2 F6:2 E6:4 D6:4",
        "E6:4 D6:2 B5:2 G#5:4 E5:4",
        "B4:2 E5:2 G#5:2 B5:2 E6:8",
    };
    const char* new_ending[2] = {
        "D6:2 E6:2 D6:2 B5:2 G5:2 A5:2 B5:4",
        "E6:8 D6:4 B5:4",
    };
    const char* turn[4] = {
        "F5:4 A5:4 D6:4 A5:4",
        "G5:4 B5:4 E6:4 B5:4",
        "A5:2 C6:2 F6:2 C6:2 A5:2 C6:2 F6:4",
        "E6:2 D6:2 C6:2 B5:2 G#5:2 B5:2 E5:2 G#5:2",
    };
    std::vector<Chord> chords = parse_chords(
        "Am Am F F C C G G Am Am F F G G E E "
        "F F G G Em Em Am Am F F G G E E E7 E7 "
        "Am Am F F C C G G Am Am F F G G E E "
        "Dm Dm Em Em F F E7 E7");
    const double lead = 0.32;
    melody_bars(p, VOICE_LEAD_THIN, 0, tune, 8, lead);
    melody_bars(p, VOICE_LEAD, 8, middle, 8, lead * 0.9);
    melody_bars(p, VOICE_LEAD_THIN, 16, tune, 6, lead);
    melody_bars(p, VOICE_LEAD_THIN, 22, new_ending, 2, lead);
    melody_bars(p, VOICE_LEAD, 24, turn, 4, lead * 0.9);
    // Echo under the repeat of the tune.
    for (int b = 16; b < 24; b++)
        p.melody(VOICE_ARP, b * 16 + 3, b < 22 ? tune[b - 16] : new_ending[b - 22], 0.08);
    for (int h = 0; h < bars * 2; h++) {
        const Chord& c = chords[h];
        int step = h * 8, bar = h / 2;
        bool a_part = bar < 8 || (bar >= 16 && bar < 24);
        bass_half_bar(p, step, c, a_part ? BASS_OCTAVE : bar < 16 ? BASS_GALLOP : BASS_DRIVE, 0.40);
        if (a_part) arp_half_bar(p, step, c, 0.055);
        else stabs_half_bar(p, step, c, 0.07);
    }
    for (int b = 0; b < bars; b++) {
        Groove g = b < 8 ? GROOVE_FLOOR : b < 16 ? GROOVE_SYNCOPATED : b < 24 ? GROOVE_FLOOR : GROOVE_BUSY;
        groove_bar(p, b, g, b == 15 || b == 27);
        if (b >= 16 && b < 24)
            for (int i = 1; i < 16; i += 2) p.drum(DRUM_HAT, b * 16 + i, 0.12);
    }
    normalise(p.out, 0.55);
    return p.out;
}

// Two blocks of steady tone: track 0 starts at 500 Hz and turns to 1000 Hz
// after 2048 samples, track 1 is 1500 Hz throughout; a test can tell from
// the pitch which track sounds and whether it started at its beginning.
Samples make_test_track(int index) {
    Samples s(2 * MIXER_BLOCK);
    double phase = 0.0;
    for (size_t i = 0; i < s.size(); i++) {
        double f = index ? 1500.0 : i < 2048 ? 500.0 : 1000.0;
        s[i] = 0.25 * std::sin(2.0 * 3.14159265358979323846 * phase);
        phase += f / SOUND_RATE;
        phase -= std::floor(phase);
    }
    return s;
}

} // namespace kiv
