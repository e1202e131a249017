// Watching live: the list of games being played, and each game's event
// stream. One thread of each server (the hub) hands every chunk to the
// server's watchers of its game, as one piece of text shared by all of
// them: the chunks come from the database, told of by this server's own
// requests and, on PostgreSQL, by the other servers' NOTIFY (`kiv_live`),
// and every few seconds read again whatever was told, so that a lost
// notification delays a watcher, never loses a chunk.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "board/http.h"
#include "board/settings.h"
#include "board/store.h"

namespace kiv::board {

// A watcher's text waiting to be sent, at most; past it its stream is closed.
constexpr size_t MAX_WATCHER_WAITING = 256 * 1024;

// GET /api/live?limit=N: read at most once each `age` seconds for each
// limit, whoever asks, by one of them while the others wait.
class LiveList {
public:
    Answer get(Db& db, const BoardSettings& settings, long limit, double age);

private:
    static std::string read(Db& db, const BoardSettings& settings, long limit);

    std::mutex mutex_;
    std::condition_variable read_;  // a reading has ended
    std::set<long> reading_;        // the limits being read now
    std::map<long, std::pair<std::chrono::steady_clock::time_point, std::string>> kept_;
};

class LiveHub {
public:
    // At most `per_client` streams of each client (a /56 and a /48 4 and
    // 16 times as many), and `most` in all.
    LiveHub(const BoardSettings& settings, int per_client, int most);
    ~LiveHub();
    LiveHub(const LiveHub&) = delete;
    LiveHub& operator=(const LiveHub&) = delete;

    void start();
    // Ends every watcher's stream, then the hub.
    void stop();
    // A game's stream changed (a chunk held, its end): its watchers here
    // are told soon.
    void poke(const std::string& live);
    // How many watch a game, on every server of the board (as the
    // servers' counts said at most five seconds ago).
    long watching(const std::string& live);
    // GET /api/live/ID?from=STEP from `client`.
    Answer watch(Db& db, const std::string& live, std::int64_t from, const std::string& client);

private:
    struct Watcher {
        std::shared_ptr<EventStream> stream;
        std::int64_t at = 0;  // steps it was given
        bool announced = false;
        std::vector<std::string> networks;  // the client's, each counted in `clients_`
    };
    struct Game {
        std::vector<Watcher> watchers;
    };
    void run();
    // Gives the game's watchers what they lack; false once it ended.
    void update(Db& db, const std::string& live, std::vector<Watcher>& watchers);
    void count(Db& db);
    void listen_postgres();

    BoardSettings settings_;
    int per_client_, most_;
    int watchers_ = 0;  // streams open on this server
    std::string server_;  // this server's name in `watching`
    // Three locks, none held while another is taken, so that a request that
    // pokes or counts never waits for the hub's rounds: `mutex_` the games
    // and their watchers, `poke_mutex_` the games told of, `counts_mutex_`
    // the counts.
    std::mutex mutex_, poke_mutex_, counts_mutex_;
    std::condition_variable wake_;
    std::set<std::string> poked_;
    std::map<std::string, Game> games_;
    std::map<std::string, int> clients_;  // streams open by client network
    std::map<std::string, long> watching_;  // every server's watchers of each game
    std::atomic<bool> stopping_{false};
    std::thread thread_, listener_;
};

} // namespace kiv::board
