// What the game asks of the sound, the same in every build: the effect
// requests of a frame and the music's track state; the platform's sound
// part plays them.
#include "media/sound.h"

namespace kiv {

std::atomic<int> sound_ready{0};
std::atomic<int> current_track{0};
std::atomic<int> next_track{0};
int music_advances;
int effect_requested[EFFECT_COUNT];
int effect_requested_in_step[EFFECT_COUNT];

void advance_music()
{
    music_advances++;
    int next = current_track + 1;
    if (next > TRACK_COUNT - 1)
        next = 0;
    next_track = next;
}

void request_effect(int k)
{
    effect_requested[k] = 1;
    effect_requested_in_step[k] = 1;
}

} // namespace kiv
