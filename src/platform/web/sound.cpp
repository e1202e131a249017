// The web build's sound: the same files, effects and tracks, played by the
// browser's Web Audio through the page's library (audio.js). A track plays
// once and the one to follow is queued to start exactly at its end, so the
// music keeps its beat; a milestone passed before that end changes the
// queued track. Browsers let sound start only after a click or a touch.
#include <cstdio>

#include "media/sound.h"

extern "C" {
int kiv_audio_open();
int kiv_audio_load(const char* path, int slot);
void kiv_audio_play_music(int track);
void kiv_audio_stop_music();
int kiv_audio_frame(int next_track);
void kiv_audio_play_effect(int slot);
void kiv_audio_close();
}

namespace kiv {

namespace {

// Slots of the audio library: the two tracks, then the three effects.
const char* const FILES[TRACK_COUNT + EFFECT_COUNT] = {
    "sounds/kiv1.ogg", "sounds/kiv2.ogg", "sounds/gen.wav", "sounds/score.wav", "sounds/miss.wav",
};

} // namespace

void init_sound()
{
    if (!kiv_audio_open()) {
        std::fprintf(stderr, "Couldn't open audio: %s\n", "this browser has no Web Audio");
        return;
    }
    sound_ready = 1;
    for (int i = 0; i < TRACK_COUNT + EFFECT_COUNT; i++) {
        if (!kiv_audio_load(FILES[i], i)) {
            std::fprintf(stderr, "Couldn't load: %s\n", FILES[i]);
            sound_ready = 0;
            return;
        }
        if (i >= TRACK_COUNT)
            effect_requested[i - TRACK_COUNT] = 0;
    }
}

void shutdown_sound()
{
    if (!sound_ready)
        return;
    kiv_audio_close();
    sound_ready = 0;
}

void start_music(int track)
{
    if (!sound_ready)
        return;
    current_track = track;
    next_track = track;
    kiv_audio_play_music(track);
}

void stop_music()
{
    if (!sound_ready)
        return;
    next_track = -1;
    kiv_audio_stop_music();
}

void play_requested_effects()
{
    if (!sound_ready)
        return;
    current_track = kiv_audio_frame(next_track);
    for (int k = 0; k < EFFECT_COUNT; k++)
        if (effect_requested[k]) {
            kiv_audio_play_effect(TRACK_COUNT + k);
            effect_requested[k] = 0;
        }
}

} // namespace kiv
