// Records, checks and soaks whole games run headless through the real game
// code: title, Start, play, a lost ball, the ending, the game-over screen and
// back to the title.
//
//   kiv_replay record FILE --seed S [--bot idle|catcher] [--load N] [--min-score N] ...
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
#include <string>
#include <vector>

#include "bot.h"
#include "events/events.h"
#include "fingerprint.h"
#include "frame/game.h"
#include "frame/headless.h"
#include "frame/loop.h"
#include "media/draw.h"
#include "sim/balls.h"
#include "sim/motion.h"
#include "sim/pan.h"
#include "sim/scoring.h"

namespace {

using namespace kiv;

struct Frame {
    int steps;
    int escapes;
    int close;
    std::vector<StepInput> inputs;
};

struct Recording {
    unsigned seed = 0;
    std::vector<Frame> frames;
    Fingerprint fp;
    std::vector<unsigned long long> checkpoints;   // hash every 1000 steps
    int final_score = 0;
    int best_multiplier = 0;
    int event_kinds[EVENT_KINDS] = {};
};

constexpr long CHECKPOINT = 1000;

// How many steps a frame runs: mostly one, sometimes a slow frame.
int steps_of_frame(long frame)
{
    if (frame == 0) return 5;
    if (frame % 101 == 0) return 5;
    if (frame % 47 == 0) return 3;
    if (frame % 13 == 0) return 2;
    return 1;
}

// The state of one run: inputs come either from a bot or from a recording.
struct Run {
    Recording* rec = nullptr;
    Bot bot;
    bool from_bot = true;
    const Frame* frame = nullptr;
    int step_in_frame = 0;
    Frame* recording_frame = nullptr;
    bool started_events[MAX_EVENTS] = {};
};

void input_for_step(int, StepInput* input, void* context)
{
    Run& run = *static_cast<Run*>(context);
    if (run.from_bot) {
        *input = bot_input(run.bot);
        run.recording_frame->inputs.push_back(*input);
    } else {
        *input = run.frame->inputs[run.step_in_frame++];
    }
}

void after_step(void* context)
{
    Run& run = *static_cast<Run*>(context);
    Recording& rec = *run.rec;
    add_step(rec.fp);
    if (rec.fp.steps % CHECKPOINT == 0)
        rec.checkpoints.push_back(rec.fp.hash);
    if (game_state == STATE_PLAYING && last_multiplier > rec.best_multiplier)
        rec.best_multiplier = last_multiplier;
    for (int i = 0; i < MAX_EVENTS; i++) {
        bool used = events[i].life > 0;
        if (used && !run.started_events[i] && events[i].kind >= 0 && events[i].kind < EVENT_KINDS)
            rec.event_kinds[events[i].kind]++;
        run.started_events[i] = used;
    }
}

bool verbose = false;

int balls_in_play()
{
    int n = 0;
    for (const Ball& b : balls)
        n += b.colour >= 0;
    return n;
}

// Plays one scenario with a bot: until the title comes back after a game.
Recording record(unsigned seed, BotKind kind, int load, long max_steps)
{
    Recording rec;
    rec.seed = seed;
    Run run;
    run.rec = &rec;
    run.bot.kind = kind;
    run.bot.load = load;
    start_headless(seed);
    set_step_script(input_for_step, &run);
    set_step_observer(after_step, &run);
    bool played = false;
    int before = game_state;
    for (long f = 0; headless_steps < max_steps; f++) {
        rec.frames.push_back(Frame{steps_of_frame(f), 0, 0, {}});
        run.recording_frame = &rec.frames.back();
        run_headless_frame(rec.frames.back().steps);
        if (verbose && before == STATE_PLAYING && game_state == STATE_ENDING)
            std::printf("lost a ball at step %ld: x %.1f, pan at (%.1f, %.1f), %d balls in play, score %d\n",
                        headless_steps, miss_x, pan.pos.x, pan.pos.y, balls_in_play(), score);
        before = game_state;
        if (game_state != STATE_TITLE)
            played = true;
        if (played && game_state == STATE_TITLE)
            break;
    }
    rec.final_score = score;
    return rec;
}

Recording replay(const Recording& in)
{
    Recording rec;
    rec.seed = in.seed;
    Run run;
    run.rec = &rec;
    run.from_bot = false;
    start_headless(in.seed);
    set_step_script(input_for_step, &run);
    set_step_observer(after_step, &run);
    for (const Frame& f : in.frames) {
        run.frame = &f;
        run.step_in_frame = 0;
        run_headless_frame(f.steps, f.escapes, f.close);
        if (quit_requested)
            break;
    }
    rec.final_score = score;
    return rec;
}

void write_recording(const Recording& rec, const char* path)
{
    FILE* f = std::fopen(path, "w");
    if (!f) {
        std::perror(path);
        std::exit(2);
    }
    std::fprintf(f, "kiv-replay 1\nseed %u\nsteps %ld\nframes %zu\nscore %d\nbest-multiplier %d\n", rec.seed,
                 rec.fp.steps, rec.frames.size(), rec.final_score, rec.best_multiplier);
    std::fprintf(f, "events");
    for (int n : rec.event_kinds)
        std::fprintf(f, " %d", n);
    std::fprintf(f, "\neffects %ld %ld %ld\nstate-changes %ld\nfingerprint %016llx\ncheckpoints %zu\n",
                 rec.fp.effect_requests[0], rec.fp.effect_requests[1], rec.fp.effect_requests[2],
                 rec.fp.state_changes, static_cast<unsigned long long>(rec.fp.hash), rec.checkpoints.size());
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
    while (std::fgets(line, sizeof line, f) && std::strcmp(line, "---\n") != 0) {
        std::sscanf(line, "seed %u", &rec.seed);
        std::sscanf(line, "steps %ld", &rec.fp.steps);
        std::sscanf(line, "score %d", &rec.final_score);
        std::sscanf(line, "state-changes %ld", &rec.fp.state_changes);
        std::sscanf(line, "effects %ld %ld %ld", &rec.fp.effect_requests[0], &rec.fp.effect_requests[1],
                    &rec.fp.effect_requests[2]);
        if (std::sscanf(line, "fingerprint %llx", &hash) == 1)
            rec.fp.hash = hash;
        if (std::sscanf(line, "checkpoints %zu", &checkpoints) == 1) {
            for (size_t i = 0; i < checkpoints; i++) {
                unsigned long long c = 0;
                if (std::fscanf(f, "%llx\n", &c) != 1)
                    return false;
                rec.checkpoints.push_back(c);
            }
        }
    }
    int steps, escapes, close;
    while (std::fscanf(f, "%d %d %d", &steps, &escapes, &close) == 3) {
        if (steps < 1 || steps > 5)
            return false;
        Frame fr{steps, escapes, close, {}};
        for (int i = 0; i < steps; i++) {
            StepInput in{};
            if (std::fscanf(f, " %d,%d,%d", &in.dx, &in.dy, &in.buttons) != 3)
                return false;
            fr.inputs.push_back(in);
        }
        rec.frames.push_back(fr);
    }
    std::fclose(f);
    return true;
}

// Everything a step may leave in the records must be a sane value.
const char* broken_invariant()
{
    for (const Ball& b : balls) {
        if (b.colour == -1)
            continue;
        if (b.colour < 0 || b.colour > 2 || b.size < 0 || b.size > 2)
            return "ball colour or size";
        if (b.radius != radius_by_size[b.size] || b.image != (2 - b.colour) * 3 + b.size)
            return "ball radius or image";
        if (!std::isfinite(b.x) || !std::isfinite(b.y) || !std::isfinite(b.vx) || !std::isfinite(b.vy))
            return "ball not finite";
        if (b.y < -480.0f)
            return "ball above the ceiling";
    }
    if (score < 0 || score > 999999999 || shown_score < 0)
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
    if (game_state < STATE_TITLE || game_state > STATE_GAME_OVER)
        return "state";
    return nullptr;
}

struct Soak {
    Bot bot;
    long games = 0;
    long steps = 0;
    long playing_steps = 0;
    int best_score = 0;
    int last_state = STATE_TITLE;
    const char* failure = nullptr;
    long failed_at = 0;
};

void soak_input(int, StepInput* input, void* context)
{
    *input = bot_input(static_cast<Soak*>(context)->bot);
}

void soak_step(void* context)
{
    Soak& s = *static_cast<Soak*>(context);
    s.steps++;
    if (game_state == STATE_PLAYING)
        s.playing_steps++;
    if (game_state == STATE_PLAYING && s.last_state != STATE_PLAYING) {
        s.games++;
        // Every third game starts at a pace where a ball comes every step.
        if (s.games % 3 == 0)
            pace = 1000000 + static_cast<int>(s.games);
    }
    if (score > s.best_score)
        s.best_score = score;
    s.last_state = game_state;
    if (!s.failure) {
        s.failure = broken_invariant();
        s.failed_at = s.steps;
    }
}

int soak(unsigned seed, long steps)
{
    Soak s;
    start_headless(seed);
    set_step_script(soak_input, &s);
    set_step_observer(soak_step, &s);
    for (long f = 0; s.steps < steps && !s.failure; f++)
        run_headless_frame(steps_of_frame(f));
    std::printf("soak: %ld steps (%ld playing, %.1f simulated minutes), %ld games, best score %d\n", s.steps,
                s.playing_steps, s.steps / 6000.0, s.games, s.best_score);
    if (s.failure) {
        std::printf("soak: FAILED at step %ld: %s\n", s.failed_at, s.failure);
        return 1;
    }
    return 0;
}

long arg_long(int argc, char** argv, const char* name, long fallback)
{
    for (int i = 0; i + 1 < argc; i++)
        if (std::strcmp(argv[i], name) == 0)
            return std::atol(argv[i + 1]);
    return fallback;
}

const char* arg_str(int argc, char** argv, const char* name, const char* fallback)
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
        unsigned seed = static_cast<unsigned>(arg_long(argc, argv, "--seed", 1));
        BotKind kind = std::strcmp(arg_str(argc, argv, "--bot", "catcher"), "idle") == 0 ? BOT_IDLE : BOT_CATCHER;
        long min_score = arg_long(argc, argv, "--min-score", 0);
        long min_multiplier = arg_long(argc, argv, "--min-multiplier", 0);
        long min_events = arg_long(argc, argv, "--min-events", 0);
        long max_steps = arg_long(argc, argv, "--max-steps", 400000);
        verbose = arg_long(argc, argv, "--verbose", 0) != 0;
        int load = static_cast<int>(arg_long(argc, argv, "--load", 30));
        Recording rec = record(seed, kind, load, max_steps);
        int fewest = 1 << 30;
        for (int n : rec.event_kinds)
            fewest = n < fewest ? n : fewest;
        std::printf("seed %u: %ld steps, score %d, best multiplier %d, fewest events of a kind %d\n", seed,
                    rec.fp.steps, rec.final_score, rec.best_multiplier, fewest);
        if (rec.final_score < min_score || rec.best_multiplier < min_multiplier || fewest < min_events)
            return 3;   // not the game wanted: try another seed
        write_recording(rec, argv[2]);
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "check") == 0) {
        Recording want;
        if (!read_recording(argv[2], want)) {
            std::fprintf(stderr, "%s: cannot read the recording\n", argv[2]);
            return 2;
        }
        Recording got = replay(want);
        std::printf("%s: %ld steps, score %d, fingerprint %016llx (recorded %016llx)\n", argv[2], got.fp.steps,
                    got.final_score, static_cast<unsigned long long>(got.fp.hash),
                    static_cast<unsigned long long>(want.fp.hash));
        if (got.fp.hash == want.fp.hash && got.fp.steps == want.fp.steps)
            return 0;
        for (size_t i = 0; i < want.checkpoints.size() && i < got.checkpoints.size(); i++) {
            if (want.checkpoints[i] != got.checkpoints[i]) {
                std::printf("first difference between steps %zu and %zu\n", i * CHECKPOINT, (i + 1) * CHECKPOINT);
                break;
            }
        }
        std::printf("effects %ld %ld %ld (recorded %ld %ld %ld), state changes %ld (recorded %ld)\n",
                    got.fp.effect_requests[0], got.fp.effect_requests[1], got.fp.effect_requests[2],
                    want.fp.effect_requests[0], want.fp.effect_requests[1], want.fp.effect_requests[2],
                    got.fp.state_changes, want.fp.state_changes);
        return 1;
    }
    if (argc >= 2 && std::strcmp(argv[1], "soak") == 0) {
        unsigned seed = static_cast<unsigned>(arg_long(argc, argv, "--seed", 7));
        long steps = arg_long(argc, argv, "--steps", 180000);
        return soak(seed, steps);
    }
    std::fprintf(stderr,
                 "usage: kiv_replay record FILE --seed S [--bot idle|catcher] [--load N] [--min-score N] "
                 "[--min-multiplier N] [--min-events N] [--max-steps N]\n"
                 "       kiv_replay check FILE\n       kiv_replay soak [--seed S] [--steps N]\n");
    return 2;
}
