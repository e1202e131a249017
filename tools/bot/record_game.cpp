// kiv_board_game FILE --seed S [--bot idle|catcher] [--play STEPS]
//                 [--steps-per-frame N] [--fast-start STEPS] [--leave] [--pointer X]
//
// Records a game from its Start as the web page does (a game replay), played
// by one of the bots (bot.h), for the board's tests and benchmarks:
// the catcher plays for --play steps (default: until it loses) and then
// leaves the pan alone until a ball falls out. --steps-per-frame runs every
// frame with that many steps (default 1), and --fast-start runs the first
// STEPS steps five to a frame (the allowance spent early); --leave presses
// Escape in the
// first frame after --play steps instead of waiting for the game's end.
// --pointer starts the pointer at X across (520 by default): games from one
// seed that start elsewhere are other games, however soon they end.
// Prints the steps, frames and score.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bot.h"
#include "frame/game.h"
#include "frame/loop.h"
#include "replay/file.h"
#include "replay/run.h"
#include "sim/scoring.h"

namespace {

using namespace kiv;

Bot bot;
long play_steps = -1;

void bot_step_input(StepInput* input)
{
    if (play_steps >= 0 && replay_run.step >= play_steps)
        bot.kind = BOT_IDLE;
    StepInput in = bot_input(bot);
    record_step_input(in, input);
}

int usage()
{
    std::fprintf(stderr, "usage: kiv_board_game FILE --seed S [--bot idle|catcher] [--play STEPS] "
                         "[--steps-per-frame N] [--fast-start STEPS] [--leave] [--pointer X]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argv[1][0] == '-')
        return usage();
    const char* path = argv[1];
    unsigned long seed = 0;
    bool have_seed = false, leave = false;
    int per_frame = 1;
    long fast_start = 0, pointer = 520;
    for (int i = 2; i < argc; i++) {
        std::string a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        if (a == "--leave") {
            leave = true;
            continue;
        }
        if (!v)
            return usage();
        i++;
        if (a == "--seed") {
            seed = std::strtoul(v, nullptr, 10);
            have_seed = true;
        } else if (a == "--bot" && std::strcmp(v, "idle") == 0) {
            bot.kind = BOT_IDLE;
        } else if (a == "--bot" && std::strcmp(v, "catcher") == 0) {
            bot.kind = BOT_CATCHER;
        } else if (a == "--play") {
            play_steps = std::atol(v);
        } else if (a == "--steps-per-frame") {
            per_frame = std::atoi(v);
        } else if (a == "--fast-start") {
            fast_start = std::atol(v);
        } else if (a == "--pointer") {
            pointer = std::atol(v);
        } else {
            return usage();
        }
    }
    if (!have_seed || per_frame < 1 || per_frame > 5 || (leave && play_steps < 0) || pointer < 0 || pointer > 639)
        return usage();

    replay.header = ReplayHeader{};
    replay.header.kind = REPLAY_GAME;
    replay.header.rules = RULES_VERSION;
    replay.header.seed = static_cast<unsigned>(seed);
    replay.header.pointer_x = static_cast<int>(pointer);
    replay.header.pointer_y = 316;
    replay.header.mouse_speed = 1.0f;
    replay.header.high_score = 1000000;
    replay.header.end = END_OVER;
    replay.frames = replay.steps = 0;
    start_replay(true, false);
    input_source = bot_step_input;
    for (long f = 0; replay.steps + MAX_STEPS_PER_FRAME <= MAX_REPLAY_STEPS; f++) {
        const int steps = replay.steps < fast_start ? MAX_STEPS_PER_FRAME : per_frame;
        replay.frame[f] = ReplayFrame{static_cast<unsigned char>(steps), 0, 0};
        if (leave && replay.steps >= play_steps) {
            replay.frame[f].escapes = 1;
            replay.header.end = END_LEFT;
        }
        replay.frames = f + 1;
        replay.steps += steps;
        run_replay_frame();
        if (replay_run.ended)
            break;
    }
    if (!replay_run.ended) {
        std::fprintf(stderr, "the game did not end within %ld steps\n", MAX_REPLAY_STEPS);
        return 1;
    }
    replay.header.score = score;
    replay.header.fingerprint = replay_run.fp.hash;
    if (!save_replay(path)) {
        std::perror(path);
        return 1;
    }
    std::printf("%ld %ld %d\n", replay.steps, replay.frames, score);
    return 0;
}
