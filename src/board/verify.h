// Verification of submitted games in worker processes apart from the server:
// the server's own binary run as `verify-worker`, the replay on its standard
// input and one line of JSON on its standard output, under limits of CPU
// time, memory and wall-clock time, with an empty environment, no other
// descriptor and a system call filter. A replay that crashes, stalls or
// takes over its worker fails its own submission, never the server.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "replay/format.h"

namespace kiv::board {

struct VerifySettings {
    double max_steps_per_frame = 1.2;
    int cpu_seconds = 20;
    long memory_mb = 512;
    double deadline_seconds = 30;
    int workers = 2;
    int queue = 16;  // replays that may wait while every worker is busy
    // Empty, or a trial of the shut-in worker (see verify_worker_main).
    std::string trial;
};

// What the board asks of a game beyond a well-formed replay, decided from
// its header alone: a game from its Start, played to its end, from the
// ticket's seed, at most max_steps_per_frame steps per frame on average
// (the game speeds up with every drawn frame, so a game that runs many
// steps per frame is an easier game).
bool check_game_header(const ReplayHeader& header, std::uint32_t seed, double max_steps_per_frame,
                       std::string* error);

struct Verdict {
    enum Kind { verified, refused, failed } kind = failed;
    int score = 0;
    long steps = 0, frames = 0;
    double seconds = 0;
    std::string error;  // why it was refused or failed
};

// The worker: shuts itself in (no new privileges, and a seccomp filter
// under which it may only read its standard input, write its standard
// output, manage its memory and exit: any other system call kills it with
// SIGSYS), reads a replay from standard input, plays it and writes its
// verdict as one line of JSON.
// Returns the exit status: NO_SANDBOX, with {"sandbox": why} for its line,
// when it cannot shut itself in.
//
// With a `trial` (kiv-board serve --worker-trial, for the tests and for
// checking a machine; never on a public board, whose every game it fails),
// the worker, once shut in, does instead what code a replay took over would
// try: "open:PATH" opens PATH for writing, "connect:PORT" connects to
// 127.0.0.1:PORT, and "look" refuses the game with what the worker was
// handed ("environment: N variables; descriptors: 0 pipe, 1 pipe, 2
// /dev/null"). The first two should be killed; if they are not, the game is
// refused saying so.
int verify_worker_main(std::uint32_t seed, double max_steps_per_frame, const std::string& trial = "");
constexpr int NO_SANDBOX = 4;

// Runs one worker for a replay and waits for its verdict.
Verdict run_worker(const VerifySettings& settings, const std::string& replay, std::uint32_t seed);

// A bounded number of workers at a time and a bounded queue of replays
// waiting for one.
class VerifyQueue {
public:
    using Done = std::function<void(const Verdict&)>;
    explicit VerifyQueue(const VerifySettings& settings);
    ~VerifyQueue();
    VerifyQueue(const VerifyQueue&) = delete;
    VerifyQueue& operator=(const VerifyQueue&) = delete;

    // Queues a replay; `done` is called on a worker thread with its verdict.
    // `accepted` is called first, before any worker can see the replay.
    // False, and neither called, when the queue is full.
    bool submit(std::shared_ptr<const std::string> replay, std::uint32_t seed, Done done,
                const std::function<void()>& accepted);
    // Ends the threads after their current replays; what still waits gets
    // a failed verdict.
    void stop();

private:
    struct Job {
        std::shared_ptr<const std::string> replay;
        std::uint32_t seed;
        Done done;
    };
    void serve();

    VerifySettings settings_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Job> jobs_;
    int busy_ = 0;  // workers running
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

} // namespace kiv::board
