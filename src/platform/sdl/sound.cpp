// Sound effects and music.
//
// Effects are requested by setting a flag and played once per drawn frame,
// effect k on mixing channel k. Music plays during a game: a track plays
// once, and when it ends the next one (the same track, or the other after a
// milestone) is started by the main thread in its next frame; the mixer's
// finished hook, which runs on the audio thread and may not call the mixer,
// only notes that the track has ended.
#include "media/sound.h"

#include <cstdio>
#include <cstring>

#include <SDL.h>
#include <SDL_mixer.h>

namespace kiv {

namespace {

const char* const SOUND_DIR = "sounds/";
const char* const TRACK_FILES[TRACK_COUNT] = {"kiv1.ogg", "kiv2.ogg"};
const char* const EFFECT_FILES[EFFECT_COUNT] = {"gen.wav", "score.wav", "miss.wav"};

Mix_Music* music_tracks[TRACK_COUNT];
Mix_Chunk* effect_chunks[EFFECT_COUNT];

// Set by the audio thread when a track has played to its end and another
// is to follow; taken by the main thread.
std::atomic<int> track_ended{0};

void sound_path(char* out, size_t size, const char* file) {
    out[0] = 0;
    if (std::strlen(SOUND_DIR) + std::strlen(file) + 1 > size) return;
    std::strcat(out, SOUND_DIR);
    std::strcat(out, file);
}

} // namespace

void on_music_finished() {
    if (!sound_ready || next_track == -1) return;
    track_ended = 1;
}

void init_sound() {
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) < 0) {
        std::fprintf(stderr, "Unable to initialize SDL_AUDIO: %s\n", SDL_GetError());
        return;
    }
    if (Mix_OpenAudio(16000, AUDIO_S16LSB, 1, 4096) < 0) {
        std::fprintf(stderr, "Couldn't open audio: %s\n", SDL_GetError());
        return;
    }
    int frequency = 0, channels = 0;
    Uint16 format = 0;
    Mix_QuerySpec(&frequency, &format, &channels);
    Mix_HookMusicFinished(on_music_finished);
    sound_ready = 1;
    char path[64];
    for (int i = 0; i < TRACK_COUNT; i++) {
        sound_path(path, sizeof path, TRACK_FILES[i]);
        music_tracks[i] = Mix_LoadMUS(path);
        if (!music_tracks[i]) {
            std::fprintf(stderr, "Couldn't load: %s\n", path);
            sound_ready = 0;
            return;
        }
    }
    for (int k = 0; k < EFFECT_COUNT; k++) {
        sound_path(path, sizeof path, EFFECT_FILES[k]);
        effect_chunks[k] = Mix_LoadWAV_RW(SDL_RWFromFile(path, "rb"), 1);
        if (!effect_chunks[k]) {
            std::fprintf(stderr, "Couldn't load: %s\n", path);
            sound_ready = 0;
            return;
        }
        effect_requested[k] = 0;
    }
}

void shutdown_sound() {
    if (!sound_ready) return;
    if (Mix_PlayingMusic()) Mix_HaltMusic();
    for (int i = 0; i < TRACK_COUNT; i++)
        if (music_tracks[i]) {
            Mix_FreeMusic(music_tracks[i]);
            music_tracks[i] = nullptr;
        }
    for (int k = 0; k < EFFECT_COUNT; k++)
        if (effect_chunks[k]) {
            Mix_FreeChunk(effect_chunks[k]);
            effect_chunks[k] = nullptr;
        }
    Mix_CloseAudio();
    sound_ready = 0;
}

// Mix_PlayMusic seeks a track back to its beginning, but the mixer's Ogg
// decoder keeps the samples it had decoded and not yet played when the track
// was halted, and plays them first: a track halted in the middle would start
// with up to an eighth of a second of where it left off, and fall off the
// block grid its seamless repeat relies on. So stop_music doesn't halt a
// playing track: it mutes it and lets it run out from near its end, which
// empties the decoder; the finished hook then finds nothing to follow.
namespace {
const double RUN_OUT_FROM = 40.0;   // s; every track is a little longer
int music_running_out;              // main thread only
} // namespace

void start_music(int track) {
    if (!sound_ready) return;
    if (Mix_PlayingMusic()) Mix_HaltMusic();   // only a track still running out
    music_running_out = 0;
    track_ended = 0;
    current_track = track;
    next_track = track;
    Mix_VolumeMusic(MIX_MAX_VOLUME);
    Mix_PlayMusic(music_tracks[track], 1);
}

void stop_music() {
    if (!sound_ready) return;
    next_track = -1;
    track_ended = 0;
    if (Mix_PlayingMusic() && !music_running_out) {
        Mix_VolumeMusic(0);
        // A shorter track keeps its place and runs out from there.
        Mix_SetMusicPosition(RUN_OUT_FROM);
        music_running_out = 1;
    }
}

void play_requested_effects() {
    if (!sound_ready) return;
    if (track_ended.exchange(0)) {
        int next = next_track;
        if (next != -1 && !Mix_PlayingMusic()) {
            current_track = next;
            Mix_PlayMusic(music_tracks[next], 1);
        }
    }
    for (int k = 0; k < EFFECT_COUNT; k++)
        if (effect_requested[k]) {
            Mix_PlayChannel(k, effect_chunks[k], 0);
            effect_requested[k] = 0;
        }
}

} // namespace kiv
