// Verification of submitted games in worker processes apart from the server:
// the server's own binary run as `verify-worker`, the replay on its standard
// input and one line of JSON on its standard output, under limits of CPU
// time, memory and wall-clock time, with an empty environment, no other
// descriptor and a system call filter. A replay that crashes, stalls or
// takes over its worker fails its own submission, never the server.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "replay/format.h"

namespace kiv::board {

struct VerifySettings {
    double max_steps_per_frame = 1.1;    // over the whole game
    double max_steps_per_frame_in_second = 2;    // in any one second of play
    int cpu_seconds = 20;
    long memory_mb = 512;
    double deadline_seconds = 30;
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

// The same bound in every second of play, so that the allowance of the
// average cannot be spent where it helps: each whole second (an aligned 100
// steps) must hold at least 100 / max_in_second frames (a frame counts in
// the second of its first step). The last part of a second is judged by the
// average alone.
bool check_frames(const ReplayFrame* frames, long count, double max_in_second, std::string* error);

// What makes two games one: the seed, the frames, and where the pointer
// was after each step of the game as played (the replay in `replay`, made
// so by make_as_played), hashed: 32 bytes. The same for every replay of one
// game, whatever its bytes, its inputs the game never read, or its mouse
// speed.
std::string played_key(std::uint32_t seed);
// The key the board gave games verified before it kept them as played: the
// seed and the replay's body as sent, decompressed; empty when the replay
// cannot be read.
std::string replay_inputs_key(const std::string& replay_bytes);

struct Verdict {
    enum Kind { verified, refused, failed } kind = failed;
    int score = 0;
    long steps = 0, frames = 0;
    double seconds = 0;
    std::string inputs;  // played_key of the game
    std::string replay;  // the game as played: the replay file the board keeps
    std::string error;   // why it was refused or failed
};

// What the board makes of a replay, as a worker plays it: refused (with
// why), or verified with its score, its key and the game as played, the
// replay written anew (its body in its fewest bytes, compressed by zlib at
// its best). Uses the game's records: one at a time.
Verdict replay_verdict(const unsigned char* data, size_t size, std::uint32_t seed, double max_steps_per_frame,
                       double max_in_second);

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
int verify_worker_main(std::uint32_t seed, double max_steps_per_frame, double max_in_second,
                       const std::string& trial = "");
constexpr int NO_SANDBOX = 4;

// Runs one worker for a replay and waits for its verdict. When `stop` turns
// true the worker is killed and the verdict is failed, with STOPPED for
// its error.
Verdict run_worker(const VerifySettings& settings, const std::string& replay, std::uint32_t seed,
                   const std::atomic<bool>* stop = nullptr);
constexpr const char* STOPPED = "the verifier was stopped with its server";

} // namespace kiv::board
