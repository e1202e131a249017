// The drawing of a worst-case playing frame on the game's 8-bit screen:
// 96 balls, 6 popups at full size with four-digit multipliers, 4 events,
// the pan, a nine-digit score and the multiplier label; everything of the
// playing frame but the flip.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "events/events.h"
#include "media/catalogue.h"
#include "media/draw.h"
#include "media/playfield_draw.h"
#include "media/screen.h"
#include "sim/balls.h"
#include "sim/pan.h"
#include "sim/scoring.h"

namespace {

// The pictures are read from images/ in the working directory; from the
// build tree, fall back to the source tree this file lives in.
bool open_screen()
{
    if (kiv::video_ready)
        return true;
    struct stat st;
    if (stat("images", &st) != 0) {
        std::string dir = __FILE__;
        dir = dir.substr(0, dir.rfind('/'));
        dir = dir.substr(0, dir.rfind('/'));
        if (chdir(dir.c_str()) != 0)
            return false;
    }
    kiv::init_offscreen_video();
    return kiv::video_ready != 0;
}

void set_segment(kiv::PanSegment& s, float x0, float y0, float x1, float y1)
{
    s.start = {x0, y0};
    s.end = {x1, y1};
}

void fill_worst_case()
{
    for (int i = 0; i < kiv::MAX_BALLS; ++i) {
        kiv::Ball& b = kiv::balls[i];
        b.colour = i % 3;
        b.size = (i / 3) % 3;
        b.image = (2 - b.colour) * 3 + b.size;
        b.x = (float)((i * 37) % 560) + 0.5f;
        b.y = (float)((i * 53) % 460) + 0.25f;
    }
    for (int i = 0; i < kiv::MAX_POPUPS; ++i) {
        kiv::ScorePopup& p = kiv::popups[i];
        p.x = (float)(20 + 30 * i);
        p.y = (float)(40 + 60 * i);
        p.points = 5;
        p.multiplier = 9999;
        p.life = 10;
        p.grow = 16;
    }
    for (int i = 0; i < kiv::MAX_EVENTS; ++i)
        kiv::events[i] = kiv::SpecialEvent{100 + 100 * i, 50 + 80 * i, 100, i == 3 ? 9 : 16, i + 2};
    set_segment(kiv::pan_bottom, 272, 240, 368, 240);
    set_segment(kiv::pan_left_wall, 254.18f, 222.19f, 254.18f, 206.19f);
    set_segment(kiv::pan_right_wall, 385.82f, 222.19f, 385.82f, 206.19f);
    kiv::last_multiplier = 9999;
}

void BM_PlayingFrame(benchmark::State& state)
{
    if (!open_screen()) {
        state.SkipWithError("no screen");
        return;
    }
    fill_worst_case();
    srand(1);
    for (auto _ : state) {
        kiv::clear_screen();
        kiv::fill_side_panel();
        kiv::draw_popups();
        kiv::draw_pan();
        kiv::draw_number(999999999, 0, 0);
        kiv::draw_balls();
        kiv::draw_events();
        benchmark::DoNotOptimize(kiv::screen[0][0]);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_PlayingFrame)->Unit(benchmark::kMicrosecond);

} // namespace
