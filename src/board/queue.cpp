#include "board/queue.h"

#include <sodium.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <memory>

#include "board/games.h"

namespace kiv::board {

namespace {

// A verifier is live while its keeper has been seen this recently.
constexpr std::int64_t LIVE_MS = 60 * 1000;
constexpr double POLL_SECONDS = 1;  // a verifier with nothing to do looks again after

struct Claim {
    std::int64_t id = 0;
    std::string replay;
    std::uint32_t seed = 0;
    std::int64_t attempts = 0;
};

// The first game of this rules version whose lease has run out that
// `which` finds (in its order), claimed until now + lease, with `also`
// set, in one transaction that skips the games others are claiming.
bool claim_first(Db& db, const std::string& which, const std::string& also, std::vector<Value> values,
                 double lease_seconds, Claim* c)
{
    const std::int64_t now = now_ms();
    const std::vector<Value> mine{static_cast<std::int64_t>(RULES_VERSION), now};
    const std::string find = "SELECT id FROM games WHERE rules = ? AND lease_until < ? AND " + which + " LIMIT 1";
    // Looked for first without a write lock: most of the time there is none.
    if (db.run(find, mine).empty())
        return false;
    Transaction t(db);
    const Rows r = db.run(find + db.skip_locked(), mine);
    if (r.empty())
        return false;
    c->id = r[0].integer(0);
    values.insert(values.end(), {now + std::llround(lease_seconds * 1000), c->id});
    db.run("UPDATE games SET " + also + "lease_until = ? WHERE id = ?", values);
    const Rows g = db.run("SELECT replay, seed, attempts FROM games WHERE id = ?", {c->id});
    t.commit();
    c->replay = g.at(0).text(0);
    // A game of the first release has no ticket's seed: its replay's is it.
    const auto* d = reinterpret_cast<const unsigned char*>(c->replay.data());
    c->seed = !g[0].null(1) ? static_cast<std::uint32_t>(g[0].integer(1))
              : c->replay.size() >= 12 ? static_cast<std::uint32_t>(d[8] | d[9] << 8 | d[10] << 16 |
                                                                     static_cast<std::uint32_t>(d[11]) << 24)
                                       : 0;
    c->attempts = g[0].integer(2);
    return true;
}

// The oldest pending game, claimed for `verifier`.
bool claim(Db& db, const std::string& verifier, double lease_seconds, Claim* c)
{
    return claim_first(db, "status = 0 ORDER BY id", "verifier = ?, attempts = attempts + 1, ", {verifier},
                       lease_seconds, c);
}

// A game kept as sent (on the board or practice before the board kept
// games as played), the newest first.
bool claim_as_sent(Db& db, double lease_seconds, Claim* c)
{
    return claim_first(db, "status IN (1, 3) AND as_played = 0 ORDER BY id DESC", "", {}, lease_seconds, c);
}

void log(const std::string& line)
{
    std::fprintf(stderr, "kiv-board: %s\n", line.c_str());
}

} // namespace

bool rules_served(Db& db, int rules)
{
    return rules == RULES_VERSION ||
           !db.run("SELECT 1 FROM verifiers WHERE rules = ? AND seen_ms > ?",
                   {static_cast<std::int64_t>(rules), now_ms() - LIVE_MS})
                .empty();
}

Verifiers::Verifiers(const BoardSettings& settings, std::function<void()> on_board)
    : settings_(settings), on_board_(std::move(on_board))
{
    char host[64] = "";
    gethostname(host, sizeof host - 1);
    char tag[9];
    const std::uint32_t r = randombytes_random();
    std::snprintf(tag, sizeof tag, "%08x", r);
    id_ = std::string(host) + ":" + std::to_string(getpid()) + ":" + tag;
}

Verifiers::~Verifiers()
{
    stop();
}

void Verifiers::start()
{
    if (settings_.workers <= 0)
        return;
    threads_.emplace_back([this] { keep(); });
    for (int i = 0; i < settings_.workers; i++)
        threads_.emplace_back([this] { verify(); });
}

void Verifiers::wake()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        woken_++;
    }
    wakeup_.notify_one();
}

void Verifiers::stop()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wakeup_.notify_all();
    for (std::thread& t : threads_)
        t.join();
    threads_.clear();
}

bool Verifiers::wait(double seconds, bool wakes)
{
    std::unique_lock<std::mutex> lock(mutex_);
    wakeup_.wait_for(lock, std::chrono::duration<double>(seconds),
                     [this, wakes] { return stopping_ || (wakes && woken_ > 0); });
    if (wakes && woken_ > 0)
        woken_--;
    return !stopping_;
}

void Verifiers::verify()
{
    std::unique_ptr<Db> db;
    while (!stopping_) {
        try {
            if (!db)
                db = open_store(settings_.store);
            Claim c;
            if (!claim(*db, id_, settings_.lease_seconds, &c)) {
                // Nothing to judge: a game kept as sent is put in its one form.
                if (claim_as_sent(*db, settings_.lease_seconds, &c)) {
                    VerifySettings any_frames = settings_.verify;
                    any_frames.max_steps_per_frame = any_frames.max_steps_per_frame_in_second = MAX_STEPS_PER_FRAME;
                    const std::string said =
                        keep_game_as_played(*db, c.id, run_worker(any_frames, c.replay, c.seed, &stopping_));
                    if (!said.empty())
                        log(said);
                    continue;
                }
                wait(POLL_SECONDS, true);
                continue;
            }
            Verdict v;
            if (c.attempts > MAX_ATTEMPTS)
                v.error = "its verification was cut short " + std::to_string(MAX_ATTEMPTS) + " times";
            else
                v = run_worker(settings_.verify, c.replay, c.seed, &stopping_);
            std::string said;
            bool on_board = false;
            if (!judge(*db, id_, c.id, v, &said, &on_board))
                said = "game " + std::to_string(c.id) + ": its lease ran out before its verdict, which is dropped";
            log(said);
            if (on_board && on_board_)
                on_board_();
        } catch (const StoreError& e) {
            log(e.what());
            db.reset();
            wait(POLL_SECONDS, false);
        }
    }
}

// Says every third of a lease that this verifier lives, and which rules it
// plays; renews the leases of the games it is verifying; forgets verifiers
// long gone.
void Verifiers::keep()
{
    std::unique_ptr<Db> db;
    do {
        try {
            if (!db)
                db = open_store(settings_.store);
            const std::int64_t now = now_ms();
            db->run("INSERT INTO verifiers (id, rules, seen_ms) VALUES (?, ?, ?) "
                    "ON CONFLICT (id) DO UPDATE SET seen_ms = excluded.seen_ms",
                    {id_, static_cast<std::int64_t>(RULES_VERSION), now});
            db->run("UPDATE games SET lease_until = ? WHERE verifier = ? AND status = 0 AND lease_until > ?",
                    {now + std::llround(settings_.lease_seconds * 1000), id_, now});
            db->run("DELETE FROM verifiers WHERE seen_ms < ?", {now - 10 * LIVE_MS});
        } catch (const StoreError& e) {
            log(e.what());
            db.reset();
        }
    } while (wait(settings_.lease_seconds / 3, false));
    try {
        if (db)
            db->run("DELETE FROM verifiers WHERE id = ?", {id_});
    } catch (const StoreError&) {
        // Forgotten by the others in time.
    }
}

} // namespace kiv::board
