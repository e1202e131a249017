#include "replay/fingerprint.h"

#include "events/events.h"
#include "frame/game.h"
#include "frame/title.h"
#include "media/draw.h"
#include "media/playfield_draw.h"
#include "media/sound.h"
#include "sim/balls.h"
#include "sim/motion.h"
#include "sim/pan.h"
#include "sim/scoring.h"

namespace kiv {

static void add_bytes(std::uint64_t& hash, const void* data, unsigned long size)
{
    const unsigned char* p = static_cast<const unsigned char*>(data);
    for (unsigned long i = 0; i < size; i++) {
        hash ^= p[i];
        hash *= 1099511628211ull;
    }
}

template <typename T>
static void add(Fingerprint& f, const T& value)
{
    add_bytes(f.hash, &value, sizeof value);
}

// The music's own state follows the sound device (a track ends when the
// mixer has played it), so of it a fingerprint takes what a silent game
// has, with sound or without: track 0 started, and the other one asked for
// once a milestone has passed.
static int silent_next_track()
{
    return music_advances > 0 ? 1 : 0;
}

void add_step(Fingerprint& f)
{
    f.steps++;
    add(f, balls);
    add(f, ball_cursor);
    add(f, pan);
    add(f, pan_bottom);
    add(f, pan_left_wall);
    add(f, pan_right_wall);
    add(f, popups);
    add(f, popup_cursor);
    add(f, events);
    add(f, event_cursor);
    add(f, multiplier);
    add(f, last_multiplier);
    add(f, combo_timer);
    add(f, miss_x);
    const int counters[] = {game_state, score, shown_score, high_score, next_milestone, pace,
                            spawn_timer, event_pressure, end_timer, game_over_timer,
                            title_wave, hover_start, hover_quit, menu_x, menu_y, menu_buttons,
                            pointer_x, pointer_y, combo_label_y, combo_label_value,
                            silent_next_track(), 0};
    add(f, counters);
    add(f, effect_requested_in_step);
    for (int& k : effect_requested_in_step)
        k = 0;
}

void add_frame(Fingerprint& f)
{
    if (f.frames++ % 16 != 0)
        return;
    // Eight pixels at a time: a whole screen in well under a millisecond.
    int pitch = 0;
    const unsigned char* rows = screen_pixels(&pitch);
    for (int y = 0; y < 480; y++) {
        const unsigned char* row = rows + static_cast<long>(y) * pitch;
        for (int x = 0; x < 640; x += 8) {
            std::uint64_t v = 0;
            for (int i = 7; i >= 0; i--)
                v = v << 8 | row[x + i];
            f.screens = (f.screens ^ v) * 1099511628211ull;
            f.screens ^= f.screens >> 29;
        }
    }
}

} // namespace kiv
