// The pixel-free platform has no sound: the requests are made and kept as
// on a desktop whose sound failed to open.
#include "media/sound.h"

namespace kiv {

void init_sound() {}
void shutdown_sound() {}
void start_music(int) {}
void stop_music() {}
void play_requested_effects() {}
void on_music_finished() {}

} // namespace kiv
