// Records, checks and soaks whole games run headless through the real game
// code: title, Start, play, a lost ball, the ending, the game-over screen and
// back to the title.
//
//   kiv_replay record FILE --seed S [--bot idle|catcher] [--load N]
//   kiv_replay check FILE
//   kiv_replay soak [--seed S] [--steps N]
//
// A recording holds the seed and, per frame, its number of steps, the frame's
// key events and each step's input record; its header holds the fingerprint
// the run must reproduce.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bot.h"
#include "events/events.h"
#include "fingerprint.h"
#include "frame/game.h"
#include "frame/headless.h"
#include "frame/loop.h"
#include "media/draw.h"
#include "sim/balls.h"
#include "sim/scoring.h"

namespace {

using namespace kiv;

struct Frame {
    int steps, escapes, close;
    std::vector<StepInput> inputs;
};

struct Recording {
    unsigned seed = 0;
    std::vector<Frame> frames;
    Fingerprint fp;
    std::vector<unsigned long long> checkpoints;   // record hash every 1000 steps
};

constexpr long CHECKPOINT = 1000;

// How many steps a frame runs: mostly one, sometimes a slow frame.
int steps_of_frame(long frame)
{
    if (frame == 0 || frame % 101 == 0) return 5;
    if (frame % 47 == 0) return 3;
    if (frame % 13 == 0) return 2;
    return 1;
}

// One run: inputs come from a bot (and are recorded) or from a recording.
struct Run {
    Recording rec;
    Bot bot;
    bool from_bot = true;
    Frame* frame = nullptr;
    int step_in_frame = 0;
    int best_multiplier = 1, events_started = 0;
    bool live[MAX_EVENTS] = {};
};

void input_for_step(int, StepInput* input, void* context)
{
    Run& run = *static_cast<Run*>(context);
    if (run.from_bot) {
        *input = bot_input(run.bot);
        run.frame->inputs.push_back(*input);
    } else {
        *input = run.frame->inputs[run.step_in_frame++];
    }
}

void after_step(void* context)
{
    Run& run = *static_cast<Run*>(context);
    Recording& rec = run.rec;
    add_step(rec.fp);
    if (rec.fp.steps % CHECKPOINT == 0)
        rec.checkpoints.push_back(rec.fp.hash);
    if (last_multiplier > run.best_multiplier)
        run.best_multiplier = last_multiplier;
    for (int i = 0; i < MAX_EVENTS; i++) {
        run.events_started += events[i].life > 0 && !run.live[i];
        run.live[i] = events[i].life > 0;
    }
}

// Plays one game with a bot, until the title comes back after it.
void record(Run& run, unsigned seed)
{
    run.rec.seed = seed;
    start_headless(seed);
    set_step_script(input_for_step, &run);
    set_step_observer(after_step, &run);
    bool played = false;
    for (long f = 0; headless_steps < 400000; f++) {
        run.rec.frames.push_back(Frame{steps_of_frame(f), 0, 0, {}});
        run.frame = &run.rec.frames.back();
        run_headless_frame(run.frame->steps);
        add_frame(run.rec.fp);
        played = played || game_state != STATE_TITLE;
        if (played && game_state == STATE_TITLE)
            break;
    }
}

void replay(Run& run, Recording& in)
{
    run.from_bot = false;
    run.rec.seed = in.seed;
    start_headless(in.seed);
    set_step_script(input_for_step, &run);
    set_step_observer(after_step, &run);
    for (Frame& f : in.frames) {
        run.frame = &f;
        run.step_in_frame = 0;
        run_headless_frame(f.steps, f.escapes, f.close);
        add_frame(run.rec.fp);
        if (quit_requested)
            break;
    }
}

void write_recording(const Recording& rec, const char* path)
{
    FILE* f = std::fopen(path, "w");
    if (!f) {
        std::perror(path);
        std::exit(2);
    }
    std::fprintf(f, "kiv-replay 2\nseed %u\nsteps %ld\nframes %zu\nfingerprint %016llx\nscreens %016llx\ncheckpoints %zu\n",
                 rec.seed, rec.fp.steps, rec.frames.size(), (unsigned long long)rec.fp.hash,
                 (unsigned long long)rec.fp.screens, rec.checkpoints.size());
    for (unsigned long long c : rec.checkpoints)
        std::fprintf(f, "%016llx\n", c);
    std::fprintf(f, "---\n");
    for (const Frame& fr : rec.frames) {
        std::fprintf(f, "%d %d %d", fr.steps, fr.escapes, fr.close);
        for (const StepInput& in : fr.inputs)
            std::fprintf(f, " %d,%d,%d", in.dx, in.dy, in.buttons);
        std::fprintf(f, "\n");
    }
    std::fclose(f);
}

bool read_recording(const char* path, Recording& rec)
{
    FILE* f = std::fopen(path, "r");
    if (!f)
        return false;
    char line[256];
    unsigned long long hash = 0;
    size_t checkpoints = 0;
    bool ok = true;
    while (ok && std::fgets(line, sizeof line, f) && std::strcmp(line, "---\n") != 0) {
        std::sscanf(line, "seed %u", &rec.seed);
        std::sscanf(line, "steps %ld", &rec.fp.steps);
        if (std::sscanf(line, "fingerprint %llx", &hash) == 1)
            rec.fp.hash = hash;
        if (std::sscanf(line, "screens %llx", &hash) == 1)
            rec.fp.screens = hash;
        if (std::sscanf(line, "checkpoints %zu", &checkpoints) == 1) {
            for (size_t i = 0; ok && i < checkpoints; i++) {
                unsigned long long c = 0;
                ok = std::fscanf(f, "%llx\n", &c) == 1;
                rec.checkpoints.push_back(c);
            }
        }
    }
    int steps, escapes, close;
    while (ok && std::fscanf(f, "%d %d %d", &steps, &escapes, &close) == 3) {
        ok = steps >= 1 && steps <= 5;
        Frame fr{steps, escapes, close, {}};
        for (int i = 0; ok && i < steps; i++) {
            StepInput in{};
            ok = std::fscanf(f, " %d,%d,%d", &in.dx, &in.dy, &in.buttons) == 3;
            fr.inputs.push_back(in);
        }
        rec.frames.push_back(fr);
    }
    std::fclose(f);
    return ok && !rec.frames.empty();
}

int check(const char* path)
{
    Recording want;
    if (!read_recording(path, want)) {
        std::fprintf(stderr, "%s: cannot read the recording\n", path);
        return 2;
    }
    Run run;
    replay(run, want);
    const Fingerprint& got = run.rec.fp;
    std::printf("%s: %ld steps, score %d, fingerprint %016llx, screens %016llx\n", path, got.steps, score,
                (unsigned long long)got.hash, (unsigned long long)got.screens);
    if (got.hash == want.fp.hash && got.screens == want.fp.screens && got.steps == want.fp.steps)
        return 0;
    if (got.hash == want.fp.hash)
        std::printf("the same game, but other pictures were drawn\n");
    for (size_t i = 0; i < want.checkpoints.size() && i < run.rec.checkpoints.size(); i++) {
        if (want.checkpoints[i] != run.rec.checkpoints[i]) {
            std::printf("first difference between steps %zu and %zu\n", i * CHECKPOINT, (i + 1) * CHECKPOINT);
            break;
        }
    }
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
    if (argc >= 3 && std::strcmp(argv[1], "record") == 0) {
        Run run;
        run.bot.kind = std::strcmp(arg(argc, argv, "--bot", "catcher"), "idle") == 0 ? BOT_IDLE : BOT_CATCHER;
        run.bot.load = std::atoi(arg(argc, argv, "--load", "30"));
        record(run, static_cast<unsigned>(std::atol(arg(argc, argv, "--seed", "1"))));
        std::printf("seed %u: %ld steps, score %d, best multiplier %d, %d events\n", run.rec.seed, run.rec.fp.steps,
                    score, run.best_multiplier, run.events_started);
        write_recording(run.rec, argv[2]);
        return 0;
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
