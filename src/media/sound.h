// Sound effects and music.
#pragma once

#include <atomic>

namespace kiv {

enum SoundEffect { EFFECT_GEN = 0, EFFECT_SCORE = 1, EFFECT_MISS = 2 };
constexpr int EFFECT_COUNT = 3;
constexpr int TRACK_COUNT = 2;

// Shared with the mixer's audio thread.
extern std::atomic<int> sound_ready;
extern std::atomic<int> current_track;
extern std::atomic<int> next_track;
// Milestones passed since the start (the game's or a replay's): how often
// advance_music was asked, whether or not anything plays.
extern int music_advances;
extern int effect_requested[EFFECT_COUNT];
// The requests of the step being run, for fingerprints of a game's steps
// (whoever takes them clears them; the frame's requests stay above).
extern int effect_requested_in_step[EFFECT_COUNT];

void init_sound();
void shutdown_sound();
void start_music(int track);
void stop_music();
void advance_music();
void request_effect(int k);
// Once per drawn frame, after the flip; also starts the next music track
// when the last one has ended.
void play_requested_effects();
// The mixer's music-finished hook (audio thread): notes that the track has
// ended, for play_requested_effects to start the next one.
void on_music_finished();

} // namespace kiv
