// Records, checks and soaks whole games run headless through the real game
// code: title, Start, play, a lost ball, the ending, the game-over screen and
// back to the title.
//
//   kiv_replay record FILE --seed S [--bot idle|catcher] [--load N] [--give-up STEPS] [--game]
//   kiv_replay check FILE
//   kiv_replay soak [--seed S] [--steps N]
//
// A recording is a session replay from the start of the program (or with
// --game, a game from its Start, as the web page records them): the seed and,
// per frame, its number of steps, the frame's key events and each step's
// input; its header holds the fingerprints of the records and of the drawn
// screens the run must reproduce.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../../tools/bot/bot.h"
#include "events/events.h"
#include "frame/game.h"
#include "frame/headless.h"
#include "frame/loop.h"
#include "media/catalogue.h"
#include "media/draw.h"
#include "media/screen.h"
#include "replay/file.h"
#include "replay/run.h"
#include "sim/balls.h"
#include "sim/scoring.h"

namespace {

using namespace kiv;

// How many steps a frame runs: mostly one, sometimes a slow frame.
int steps_of_frame(long frame)
{
    if (frame == 0 || frame % 101 == 0) return 5;
    if (frame % 47 == 0) return 3;
    if (frame % 13 == 0) return 2;
    return 1;
}

Bot recording_bot;
long bot_gives_up = MAX_REPLAY_STEPS;   // steps after which the bot lets the balls fall

void bot_step_input(StepInput* input)
{
    StepInput in = bot_input(recording_bot);
    if (replay_run.step > bot_gives_up && game_state == STATE_PLAYING)
        in = StepInput{0, 0, 0};
    record_step_input(in, input);
}

// Plays one game with the bot, until the title comes back after it (a game:
// until the game-over screen begins).
int record(const char* path, unsigned seed, bool game)
{
    replay.header = ReplayHeader{};
    replay.header.kind = game ? REPLAY_GAME : REPLAY_SESSION;
    replay.header.rules = RULES_VERSION;
    replay.header.seed = seed;
    replay.header.pointer_x = game ? 520 : SCREEN_W / 2;
    replay.header.pointer_y = game ? 316 : SCREEN_H / 2;
    replay.header.mouse_speed = game ? 1.0f : 3.0f;
    replay.header.end = game ? END_OVER : END_NONE;
    replay.frames = replay.steps = 0;
    init_offscreen_video();
    start_replay(true, true);
    input_source = bot_step_input;
    bool played = false;
    int best_multiplier = 1, events_started = 0;
    bool live[MAX_EVENTS] = {};
    for (long f = 0; replay.steps + 5 <= MAX_REPLAY_STEPS; f++) {
        replay.frame[f] = ReplayFrame{static_cast<unsigned char>(steps_of_frame(f)), 0, 0};
        replay.frames = f + 1;
        replay.steps += replay.frame[f].steps;
        run_replay_frame();
        best_multiplier = last_multiplier > best_multiplier ? last_multiplier : best_multiplier;
        for (int i = 0; i < MAX_EVENTS; i++) {
            events_started += events[i].life > 0 && !live[i];
            live[i] = events[i].life > 0;
        }
        played = played || game_state != STATE_TITLE;
        if (played && game_state == (game ? STATE_GAME_OVER : STATE_TITLE))
            break;
    }
    replay.header.score = score;
    replay.header.fingerprint = replay_run.fp.hash;
    replay.header.screens = replay_run.fp.screens;
    std::printf("seed %u: %ld steps, score %d, best multiplier %d, %d events\n", seed, replay.steps, score,
                best_multiplier, events_started);
    if (!save_replay(path)) {
        std::perror(path);
        return 2;
    }
    return 0;
}

int check(const char* path)
{
    ReplayError error;
    ReplayResult got;
    init_offscreen_video();
    if (!load_replay(path, &error) || !verify_replay(&got, &error, true)) {
        std::printf("%s: %s\n", path, error.text);
        return 1;
    }
    std::printf("%s: %ld steps, score %d, fingerprint %016llx, screens %016llx\n", path, got.steps, got.score,
                (unsigned long long)got.fingerprint, (unsigned long long)got.screens);
    if (got.screens == replay.header.screens)
        return 0;
    std::printf("the same game, but other pictures were drawn\n");
    return 1;
}

// Everything a step may leave in the records must be a sane value.
const char* broken_invariant()
{
    for (const Ball& b : balls) {
        if (b.colour == -1)
            continue;
        if (b.colour < 0 || b.colour > 2 || b.size < 0 || b.size > 2 || b.radius != radius_by_size[b.size] ||
            b.image != (2 - b.colour) * 3 + b.size)
            return "ball record";
        if (!std::isfinite(b.x) || !std::isfinite(b.y) || !std::isfinite(b.vx) || !std::isfinite(b.vy))
            return "ball not finite";
        if (b.y < -480.0f)
            return "ball above the ceiling";
    }
    if (score < 0 || score > SCORE_CAP || shown_score < 0 || next_milestone < score)
        return "score";
    if (multiplier < 1 || multiplier > 9999 || last_multiplier < 1 || last_multiplier > 9999)
        return "multiplier";
    for (const ScorePopup& p : popups)
        if (p.life < 0 || p.grow < 0 || p.grow > 16)
            return "popup";
    for (const SpecialEvent& e : events)
        if (e.life < 0 || (e.life > 0 && (e.kind < 0 || e.kind > 5 || e.phase > 16 || e.phase < -78)))
            return "event";
    if (pointer_x < 0 || pointer_x > 639 || pointer_y < 0 || pointer_y > 479)
        return "pointer";
    return nullptr;
}

// A long session of games by the catcher, now and then jerking the mouse
// far across the screen; every third game starts at a pace where a ball
// comes every step.
struct Soak {
    Bot bot;
    unsigned jerks = 12345;
    long games = 0, steps = 0;
    int best_score = 0, last_state = STATE_TITLE;
    const char* failure = nullptr;
};

void soak_input(int, StepInput* input, void* context)
{
    Soak& s = *static_cast<Soak*>(context);
    *input = bot_input(s.bot);
    s.jerks = s.jerks * 1103515245u + 12345u;
    if (game_state == STATE_PLAYING && (s.jerks >> 16) % 200 == 0) {
        input->dx = static_cast<int>((s.jerks >> 4) % 1401) - 700;
        input->dy = static_cast<int>((s.jerks >> 8) % 1401) - 700;
    }
}

void soak_step(void* context)
{
    Soak& s = *static_cast<Soak*>(context);
    s.steps++;
    if (game_state == STATE_PLAYING && s.last_state != STATE_PLAYING && ++s.games % 3 == 0)
        pace = 1000000 + static_cast<int>(s.games);
    s.best_score = score > s.best_score ? score : s.best_score;
    s.last_state = game_state;
    if (!s.failure && (s.failure = broken_invariant()))
        std::printf("soak: FAILED at step %ld: %s\n", s.steps, s.failure);
}

int soak(unsigned seed, long steps)
{
    Soak s;
    start_headless(seed);
    // The records are what a soak checks: the drawing code runs (it takes
    // random numbers) but puts no pixels.
    drawing_on = 0;
    set_step_script(soak_input, &s);
    set_step_observer(soak_step, &s);
    for (long f = 0; s.steps < steps && !s.failure; f++)
        run_headless_frame(steps_of_frame(f));
    std::printf("soak: %ld steps, %ld games, best score %d\n", s.steps, s.games, s.best_score);
    return s.failure || s.games < 3 ? 1 : 0;
}

const char* arg(int argc, char** argv, const char* name, const char* fallback)
{
    for (int i = 0; i + 1 < argc; i++)
        if (std::strcmp(argv[i], name) == 0)
            return argv[i + 1];
    return fallback;
}

} // namespace

int main(int argc, char** argv)
{
    present_screen = [] {};   // the frames are drawn into the screen, not shown
    if (argc >= 3 && std::strcmp(argv[1], "record") == 0) {
        recording_bot.kind = std::strcmp(arg(argc, argv, "--bot", "catcher"), "idle") == 0 ? BOT_IDLE : BOT_CATCHER;
        recording_bot.load = std::atoi(arg(argc, argv, "--load", "30"));
        bool game = std::strcmp(argv[argc - 1], "--game") == 0;
        bot_gives_up = std::atol(arg(argc, argv, "--give-up", "360000"));
        return record(argv[2], static_cast<unsigned>(std::atol(arg(argc, argv, "--seed", "1"))), game);
    }
    if (argc == 3 && std::strcmp(argv[1], "check") == 0)
        return check(argv[2]);
    if (argc >= 2 && std::strcmp(argv[1], "soak") == 0)
        return soak(static_cast<unsigned>(std::atol(arg(argc, argv, "--seed", "7"))),
                    std::atol(arg(argc, argv, "--steps", "120000")));
    std::fprintf(stderr, "usage: kiv_replay record FILE --seed S [--bot idle|catcher] [--load N]\n"
                         "       kiv_replay check FILE\n       kiv_replay soak [--seed S] [--steps N]\n");
    return 2;
}
