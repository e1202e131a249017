// Rate limits by client address: token buckets in memory only, forgotten as
// soon as they are full again (a minute after an address's last request at
// most; a full bucket is what a new address gets anyway).
//
// An IPv4 address has a bucket of its own. An IPv6 address counts as its
// /64 (one customer's network; every address in it is theirs), and the /56
// and /48 around it have buckets of their own, 4 and 16 times as large, so
// that one customer's many /64s cannot each take a full share. IPv4 mapped
// into IPv6 (::ffff:a.b.c.d) is IPv4. A request takes a token from each of
// its buckets, or from none. A limit for the whole board is shared: one
// network (an IPv4 address, or an IPv6 /48 with all of its /56s and /64s)
// takes at most a BOARD_SHARE-th of it.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <list>
#include <mutex>
#include <string>
#include <utility>
#include <vector>
#include <unordered_map>

namespace kiv::board {

// One table of buckets: `per_minute` tokens a minute for each key, in bursts
// of as many. At most `capacity` keys; past that the longest idle is
// forgotten first.
class TokenBuckets {
public:
    using Clock = std::chrono::steady_clock;
    // An address, or the network in front of it: family, prefix length, bytes.
    using Key = std::array<std::uint8_t, 18>;

    TokenBuckets(double per_minute, size_t capacity);
    // The tokens `key` has at `now` (a key not held has a full bucket).
    double level(const Key& key, Clock::time_point now) const;
    // Takes one token (the caller saw level() >= 1).
    void take(const Key& key, Clock::time_point now);
    // Seconds until `key` has a token again.
    double wait(const Key& key, Clock::time_point now) const;
    // Forgets every full bucket.
    void forget_full(Clock::time_point now);
    size_t size() const { return index_.size(); }

private:
    struct Bucket {
        Key key;
        double tokens;
        Clock::time_point at;
    };
    struct Hash {
        size_t operator()(const Key& k) const;
    };
    double level_of(const Bucket& b, Clock::time_point now) const;

    double per_second_, burst_;
    size_t capacity_;
    std::list<Bucket> order_;  // the most recently used first
    std::unordered_map<Key, std::list<Bucket>::iterator, Hash> index_;
};

// The bucket key of a client: an IPv4 address (mapped into IPv6 or not) or
// an IPv6 /64; anything else is one unknown client.
TokenBuckets::Key client_network(const std::string& address);

// The networks a client counts in, each with how many times a client's
// share it may take: the client's own (1) and, of an IPv6 address, the
// /56 (4) and the /48 (16) around it, as for the rate limits.
std::vector<std::pair<TokenBuckets::Key, double>> client_networks(const std::string& address);

// The part of the whole board's limit that one network may take.
constexpr double BOARD_SHARE = 16;

class RateLimit {
public:
    using Clock = TokenBuckets::Clock;
    enum Result { taken, address_limited, network_limited, board_limited };

    // `per_minute` for each address; `board_per_minute`, when above 0, for
    // all addresses together, and a BOARD_SHARE-th of it (one at least)
    // for each network.
    explicit RateLimit(double per_minute, double board_per_minute = 0, size_t capacity = 100000);

    // Takes a token for `address` (canonical text as address_text gives it;
    // anything else counts as one unknown address). When refused,
    // retry_after says the seconds until a token.
    Result take(const std::string& address, Clock::time_point now, int* retry_after);
    // Forgets the buckets that are full again.
    void forget_full(Clock::time_point now);
    // Buckets held (addresses and networks).
    size_t size();

private:
    std::mutex mutex_;
    TokenBuckets single_, net56_, net48_, share_, board_;
    bool whole_board_;
};

// Requests on a ticket whose game was started: a bucket for each ticket
// (32 hex digits), whatever the address, so that nothing others send from
// its address holds up its game; the ticket is the limit.
class TicketLimit {
public:
    using Clock = TokenBuckets::Clock;
    explicit TicketLimit(double per_minute, size_t capacity = 100000);
    // Takes a token for the ticket (32 hex digits, as ticket_id_ok checks);
    // false, with the seconds until one, when there is none.
    bool take(const std::string& ticket, Clock::time_point now, int* retry_after);
    void forget_full(Clock::time_point now);

private:
    std::mutex mutex_;
    TokenBuckets buckets_;
};

} // namespace kiv::board
