// The verification queue, kept in the database: the pending games. A
// verifier claims the oldest pending game of its own rules version under a
// lease (a verifier's id and a time), which a keeper renews while the worker
// plays it, and commits the verdict only while the claim is still its own.
// A server or worker killed mid-verification leaves its games pending; once
// their leases run out, another verifier (or the same one restarted) claims
// them. Every server of a board verifies (unless --workers 0), and
// `kiv-board worker` runs verifiers alone, on any machine that reaches the
// database.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "board/settings.h"

namespace kiv::board {

// Whether some verifier of the board plays games of this rules version
// (this program's own always counts: its games wait for a verifier).
bool rules_served(Db& db, int rules);

class Verifiers {
public:
    // `settings.workers` threads, each verifying one game at a time in a
    // worker process; `on_board` is called after a game went on the board.
    Verifiers(const BoardSettings& settings, std::function<void()> on_board);
    ~Verifiers();
    Verifiers(const Verifiers&) = delete;
    Verifiers& operator=(const Verifiers&) = delete;

    void start();
    // A game was queued: a verifier looks at once.
    void wake();
    // Ends the threads; a game being verified is killed and queued again.
    void stop();
    const std::string& id() const { return id_; }

private:
    void verify();
    void keep();
    // Waits, until woken by a queued game when `wakes`; false once stopping.
    bool wait(double seconds, bool wakes);

    BoardSettings settings_;
    std::function<void()> on_board_;
    std::string id_;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::condition_variable wakeup_;
    int woken_ = 0;
    std::vector<std::thread> threads_;
};

} // namespace kiv::board
