#include "synth.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <vorbis/vorbisenc.h>

namespace kiv {

namespace {
const double PI = 3.14159265358979323846;

double poly_blep(double t, double dt) {
    if (t < dt) {
        t /= dt;
        return t + t - t * t - 1.0;
    }
    if (t > 1.0 - dt) {
        t = (t - 1.0) / dt;
        return t * t + t + t + 1.0;
    }
    return 0.0;
}

struct VoiceShape {
    double duty;        // pulse duty; 0 = triangle
    double attack;      // s
    double sustain;     // level the decay settles at
    double decay;       // s, time constant
    double release;     // s
    double gate;        // fraction of the written length that sounds
    double vibrato;     // semitones
};

const VoiceShape SHAPES[] = {
    {0.25, 0.004, 0.60, 0.12, 0.05, 0.92, 0.22},   // lead
    {0.125, 0.004, 0.55, 0.12, 0.05, 0.90, 0.18},  // thin lead
    {0.50, 0.003, 0.00, 0.07, 0.03, 0.60, 0.0},    // harmony stabs
    {0.25, 0.002, 0.25, 0.04, 0.02, 0.85, 0.0},    // arpeggio
    {0.0, 0.003, 0.75, 0.20, 0.03, 0.88, 0.0},     // bass
};
} // namespace

double Noise::next() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return (double)(state >> 8) / 8388608.0 - 1.0;
}

double midi_to_hz(double note) { return 440.0 * std::pow(2.0, (note - 69.0) / 12.0); }

double pulse_wave(double phase, double dt, double duty) {
    double v = phase < duty ? 1.0 : -1.0;
    v += poly_blep(phase, dt);
    double p2 = phase + 1.0 - duty;
    if (p2 >= 1.0) p2 -= 1.0;
    v -= poly_blep(p2, dt);
    // Remove the pulse's DC so that thin duties sit round zero.
    return v - (2.0 * duty - 1.0);
}

double triangle_wave(double phase) { return 4.0 * std::fabs(phase - 0.5) - 1.0; }

int parse_note(const std::string& name) {
    if (name == "-") return -1;
    static const int base[7] = {9, 11, 0, 2, 4, 5, 7};   // A..G
    if (name.empty() || name[0] < 'A' || name[0] > 'G') return -2;
    int n = base[name[0] - 'A'];
    size_t i = 1;
    if (i < name.size() && name[i] == '#') { n++; i++; }
    else if (i < name.size() && name[i] == 'b') { n--; i++; }
    if (i >= name.size()) return -2;
    int octave = std::atoi(name.c_str() + i);
    return 12 * (octave + 1) + n;
}

Piece::Piece(int bars, int step_samples_, uint32_t seed)
    : step_samples(step_samples_), steps(bars * 16),
      out((size_t)bars * 16 * step_samples_, 0.0), noise(seed) {}

void Piece::note(Voice v, int step, int length, double midi, double gain) {
    const VoiceShape& s = SHAPES[v];
    const double rate = SOUND_RATE;
    const size_t n = out.size();
    double gate = length * step_samples * s.gate / rate;
    double total = gate + s.release;
    int count = (int)(total * rate);
    double f0 = midi_to_hz(midi);
    double phase = 0.0;
    double level_at_gate = 0.0;
    size_t start = (size_t)step * step_samples;
    for (int i = 0; i < count; i++) {
        double t = i / rate;
        double env;
        if (t < s.attack) env = t / s.attack;
        else env = s.sustain + (1.0 - s.sustain) * std::exp(-(t - s.attack) / s.decay);
        if (t < gate) level_at_gate = env;
        else env = level_at_gate * (1.0 - (t - gate) / s.release);
        double f = f0;
        if (s.vibrato > 0.0 && t > 0.16)
            f *= std::pow(2.0, s.vibrato / 12.0 * std::sin(2.0 * PI * 5.5 * (t - 0.16)) *
                                   std::fmin(1.0, (t - 0.16) / 0.15));
        double dt = f / rate;
        double w;
        if (s.duty > 0.0) w = pulse_wave(phase, dt, s.duty);
        else w = triangle_wave(phase) + 0.18 * pulse_wave(phase, dt, 0.5);
        phase += dt;
        if (phase >= 1.0) phase -= 1.0;
        out[(start + i) % n] += gain * env * w;
    }
}

void Piece::drum(Drum d, int step, double gain) {
    const double rate = SOUND_RATE;
    const size_t n = out.size();
    size_t start = (size_t)step * step_samples;
    double phase = 0.0, last = 0.0, low = 0.0;
    int count = (int)((d == DRUM_OPEN_HAT ? 0.25 : d == DRUM_KICK ? 0.18 : d == DRUM_SNARE ? 0.2 : 0.06) * rate);
    for (int i = 0; i < count; i++) {
        double t = i / rate;
        double v = 0.0;
        double x = noise.next();
        switch (d) {
        case DRUM_KICK: {
            double f = 45.0 + 110.0 * std::exp(-t / 0.03);
            phase += f / rate;
            v = std::sin(2.0 * PI * phase) * std::exp(-t / 0.08) + 0.25 * x * std::exp(-t / 0.002);
            break;
        }
        case DRUM_SNARE: {
            low += 0.55 * (x - low);              // takes the fizz off the top
            phase += 185.0 / rate;
            v = 0.8 * low * std::exp(-t / 0.055) + 0.5 * std::sin(2.0 * PI * phase) * std::exp(-t / 0.03);
            break;
        }
        case DRUM_HAT:
        case DRUM_OPEN_HAT: {
            double hp = x - last;                 // keeps only the hiss
            last = x;
            v = 0.5 * hp * std::exp(-t / (d == DRUM_HAT ? 0.012 : 0.06));
            break;
        }
        }
        double fade = std::fmin(1.0, t / 0.0005);  // no click at the onset
        out[(start + i) % n] += gain * fade * v;
    }
}

int Piece::melody(Voice v, int step, const char* text, double gain, int transpose) {
    int at = step;
    const char* p = text;
    while (*p) {
        while (*p == ' ') p++;
        if (!*p) break;
        const char* colon = std::strchr(p, ':');
        if (!colon) { std::fprintf(stderr, "bad melody: %s\n", p); std::exit(2); }
        std::string name(p, colon - p);
        int length = std::atoi(colon + 1);
        int midi = parse_note(name);
        if (midi == -2 || length <= 0) { std::fprintf(stderr, "bad note: %s\n", name.c_str()); std::exit(2); }
        if (midi >= 0) note(v, at, length, midi + transpose, gain);
        at += length;
        p = colon + 1;
        while (*p && *p != ' ') p++;
    }
    return at - step;
}

void normalise(Samples& s, double peak) {
    double m = 0.0;
    for (double x : s) m = std::fmax(m, std::fabs(x));
    if (m > 0.0)
        for (double& x : s) x *= peak / m;
}

std::vector<int16_t> to_pcm16(const Samples& s) {
    std::vector<int16_t> pcm(s.size());
    for (size_t i = 0; i < s.size(); i++) {
        double v = std::round(s[i] * 32767.0);
        if (v > 32767.0) v = 32767.0;
        if (v < -32768.0) v = -32768.0;
        pcm[i] = (int16_t)v;
    }
    return pcm;
}

namespace {
void put32(unsigned char* p, uint32_t v) {
    p[0] = v & 255; p[1] = (v >> 8) & 255; p[2] = (v >> 16) & 255; p[3] = v >> 24;
}
void put16(unsigned char* p, uint32_t v) { p[0] = v & 255; p[1] = (v >> 8) & 255; }
} // namespace

bool write_wav(const std::string& path, const std::vector<int16_t>& pcm) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    uint32_t bytes = (uint32_t)pcm.size() * 2;
    unsigned char h[44];
    std::memcpy(h, "RIFF", 4); put32(h + 4, 36 + bytes);
    std::memcpy(h + 8, "WAVEfmt ", 8); put32(h + 16, 16);
    put16(h + 20, 1); put16(h + 22, 1);                 // PCM, mono
    put32(h + 24, SOUND_RATE); put32(h + 28, SOUND_RATE * 2);
    put16(h + 32, 2); put16(h + 34, 16);
    std::memcpy(h + 36, "data", 4); put32(h + 40, bytes);
    bool ok = std::fwrite(h, 1, 44, f) == 44;
    for (int16_t s : pcm) {
        unsigned char b[2];
        put16(b, (uint16_t)s);
        ok = ok && std::fwrite(b, 1, 2, f) == 2;
    }
    return std::fclose(f) == 0 && ok;
}

bool write_ogg(const std::string& path, const std::vector<int16_t>& pcm, float quality, int serial) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    vorbis_info vi;
    vorbis_info_init(&vi);
    if (vorbis_encode_init_vbr(&vi, 1, SOUND_RATE, quality) != 0) {
        std::fclose(f);
        return false;
    }
    vorbis_comment vc;
    vorbis_comment_init(&vc);
    vorbis_comment_add_tag(&vc, "ENCODER", "make_sounds");
    vorbis_dsp_state vd;
    vorbis_block vb;
    vorbis_analysis_init(&vd, &vi);
    vorbis_block_init(&vd, &vb);
    ogg_stream_state os;
    ogg_stream_init(&os, serial);
    ogg_packet header, comments, codebooks;
    vorbis_analysis_headerout(&vd, &vc, &header, &comments, &codebooks);
    ogg_stream_packetin(&os, &header);
    ogg_stream_packetin(&os, &comments);
    ogg_stream_packetin(&os, &codebooks);
    ogg_page og;
    bool ok = true;
    while (ogg_stream_flush(&os, &og)) {
        ok = ok && std::fwrite(og.header, 1, og.header_len, f) == (size_t)og.header_len;
        ok = ok && std::fwrite(og.body, 1, og.body_len, f) == (size_t)og.body_len;
    }
    size_t pos = 0;
    bool eos = false;
    while (!eos) {
        const size_t chunk = 1024;
        size_t n = std::min(chunk, pcm.size() - pos);
        if (n == 0) {
            vorbis_analysis_wrote(&vd, 0);
        } else {
            float** buf = vorbis_analysis_buffer(&vd, (int)n);
            for (size_t i = 0; i < n; i++) buf[0][i] = pcm[pos + i] / 32768.0f;
            vorbis_analysis_wrote(&vd, (int)n);
            pos += n;
        }
        while (vorbis_analysis_blockout(&vd, &vb) == 1) {
            vorbis_analysis(&vb, nullptr);
            vorbis_bitrate_addblock(&vb);
            ogg_packet op;
            while (vorbis_bitrate_flushpacket(&vd, &op)) {
                ogg_stream_packetin(&os, &op);
                while (!eos && ogg_stream_pageout(&os, &og)) {
                    ok = ok && std::fwrite(og.header, 1, og.header_len, f) == (size_t)og.header_len;
                    ok = ok && std::fwrite(og.body, 1, og.body_len, f) == (size_t)og.body_len;
                    if (ogg_page_eos(&og)) eos = true;
                }
            }
        }
    }
    ogg_stream_clear(&os);
    vorbis_block_clear(&vb);
    vorbis_dsp_clear(&vd);
    vorbis_comment_clear(&vc);
    vorbis_info_clear(&vi);
    return std::fclose(f) == 0 && ok;
}

} // namespace kiv
