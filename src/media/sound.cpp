#include "media/sound.h"

namespace kiv {

std::atomic<int> sound_ready{0};
std::atomic<int> current_track{0};
std::atomic<int> next_track{0};
int effect_requested[EFFECT_COUNT];

void init_sound() {}
void shutdown_sound() {}
void start_music(int) {}
void stop_music() {}
void advance_music() {}
void request_effect(int k) { effect_requested[k] = 1; }
void play_requested_effects() {}

} // namespace kiv
