// Verifying a replay: ten minutes of play (60,000 steps) read from its file
// and played again on the platform that draws nothing, as kiv-verify and the
// board do. The play is the catcher bot's with a hand on the mouse: a slow
// drift and a tremor on top of its strokes, so that the pointer moves in
// nearly every step, as a person's does; games follow one another for the
// whole ten minutes. Also reports the replay file's size.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "../tools/bot/bot.h"
#include "frame/game.h"
#include "frame/loop.h"
#include "media/catalogue.h"
#include "replay/file.h"
#include "replay/run.h"

using namespace kiv;

namespace {

constexpr long TEN_MINUTES = 60000;

Bot bot;
std::mt19937 hand_random(11);
float drift_x, drift_y, rest_x, rest_y;

void hand_input(StepInput* input)
{
    StepInput in = bot_input(bot);
    std::normal_distribution<float> n(0.0f, 1.0f);
    drift_x = 0.9f * drift_x + 0.9f * n(hand_random);
    drift_y = 0.9f * drift_y + 0.6f * n(hand_random);
    rest_x += drift_x;
    rest_y += drift_y;
    int dx = static_cast<int>(rest_x), dy = static_cast<int>(rest_y);
    rest_x -= static_cast<float>(dx);
    rest_y -= static_cast<float>(dy);
    in.dx += dx;
    in.dy += dy;
    record_step_input(in, input);
}

std::vector<unsigned char> ten_minutes()
{
    replay.header = ReplayHeader{};
    replay.header.kind = REPLAY_SESSION;
    replay.header.rules = RULES_VERSION;
    replay.header.seed = 42;
    replay.header.pointer_x = SCREEN_W / 2;
    replay.header.pointer_y = SCREEN_H / 2;
    replay.header.mouse_speed = 3.0f;
    replay.frames = replay.steps = 0;
    bot.load = 12;
    start_replay(false, false);
    input_source = hand_input;
    while (replay.steps < TEN_MINUTES) {
        replay.frame[replay.frames++] = ReplayFrame{1, 0, 0};
        replay.steps++;
        run_replay_frame();
    }
    replay.header.score = score;
    std::vector<unsigned char> file(MAX_REPLAY_FILE);
    file.resize(static_cast<size_t>(write_replay(file.data(), static_cast<long>(file.size()))));
    return file;
}

void BM_VerifyTenMinutes(benchmark::State& state)
{
    static const std::vector<unsigned char> file = ten_minutes();
    ReplayError error;
    ReplayResult result{};
    for (auto _ : state) {
        if (!read_replay(file.data(), file.size(), &error) || !verify_replay(&result, &error)) {
            state.SkipWithError(error.text);
            break;
        }
        benchmark::DoNotOptimize(result.score);
    }
    state.counters["file_bytes"] = static_cast<double>(file.size());
    state.counters["steps"] = static_cast<double>(result.steps);
    state.counters["times_real_time"] =
        benchmark::Counter(static_cast<double>(result.steps) * STEP_MS / 1000.0, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_VerifyTenMinutes)->Unit(benchmark::kMillisecond)->MinTime(3.0);

} // namespace
