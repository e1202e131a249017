#include "board/rate.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kiv::board {

size_t TokenBuckets::Hash::operator()(const Key& k) const
{
    // FNV-1a over the key's bytes.
    std::uint64_t h = 1469598103934665603ULL;
    for (std::uint8_t b : k)
        h = (h ^ b) * 1099511628211ULL;
    return static_cast<size_t>(h);
}

TokenBuckets::TokenBuckets(double per_minute, size_t capacity)
    : per_second_(per_minute / 60.0), burst_(per_minute), capacity_(capacity)
{
}

double TokenBuckets::level_of(const Bucket& b, Clock::time_point now) const
{
    double seconds = std::chrono::duration<double>(now - b.at).count();
    return std::fmin(burst_, b.tokens + std::fmax(0.0, seconds) * per_second_);
}

double TokenBuckets::level(const Key& key, Clock::time_point now) const
{
    auto found = index_.find(key);
    return found == index_.end() ? burst_ : level_of(*found->second, now);
}

double TokenBuckets::wait(const Key& key, Clock::time_point now) const
{
    return per_second_ > 0 ? (1.0 - level(key, now)) / per_second_ : 60.0;
}

void TokenBuckets::take(const Key& key, Clock::time_point now)
{
    auto found = index_.find(key);
    if (found == index_.end()) {
        order_.push_front(Bucket{key, burst_, now});
        index_.emplace(key, order_.begin());
    } else {
        order_.splice(order_.begin(), order_, found->second);
    }
    Bucket& b = order_.front();
    b.tokens = level_of(b, now) - 1.0;
    b.at = now;
    // The longest idle go first: those full again, then any past capacity.
    while (!order_.empty() && (index_.size() > capacity_ || level_of(order_.back(), now) >= burst_)) {
        index_.erase(order_.back().key);
        order_.pop_back();
    }
}

void TokenBuckets::forget_full(Clock::time_point now)
{
    for (auto i = order_.begin(); i != order_.end();) {
        if (level_of(*i, now) >= burst_) {
            index_.erase(i->key);
            i = order_.erase(i);
        } else {
            ++i;
        }
    }
}

namespace {

// How many times the /64's bucket the /56's and the /48's are.
constexpr double NET56_SCALE = 4;
constexpr double NET48_SCALE = 16;

TokenBuckets::Key network(int family, int prefix, const std::uint8_t* bytes)
{
    TokenBuckets::Key k{};
    k[0] = static_cast<std::uint8_t>(family);
    k[1] = static_cast<std::uint8_t>(prefix);
    std::memcpy(k.data() + 2, bytes, static_cast<size_t>(prefix / 8));
    return k;
}

} // namespace

TokenBuckets::Key client_network(const std::string& address)
{
    std::uint8_t bytes[16];
    static const std::uint8_t mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (inet_pton(AF_INET, address.c_str(), bytes) == 1)
        return network(4, 32, bytes);
    if (inet_pton(AF_INET6, address.c_str(), bytes) != 1)
        return TokenBuckets::Key{};
    if (std::memcmp(bytes, mapped, sizeof mapped) == 0)
        return network(4, 32, bytes + 12);
    return network(6, 64, bytes);
}

std::vector<std::pair<TokenBuckets::Key, double>> client_networks(const std::string& address)
{
    std::vector<std::pair<TokenBuckets::Key, double>> nets{{client_network(address), 1}};
    std::uint8_t bytes[16];
    if (nets[0].first[0] == 6 && inet_pton(AF_INET6, address.c_str(), bytes) == 1) {
        nets.push_back({network(6, 56, bytes), NET56_SCALE});
        nets.push_back({network(6, 48, bytes), NET48_SCALE});
    }
    return nets;
}

RateLimit::RateLimit(double per_minute, double board_per_minute, size_t capacity)
    : single_(per_minute, capacity), net56_(per_minute * NET56_SCALE, capacity),
      net48_(per_minute * NET48_SCALE, capacity), share_(std::fmax(1.0, board_per_minute / BOARD_SHARE), capacity),
      board_(board_per_minute, 1), whole_board_(board_per_minute > 0)
{
}

RateLimit::Result RateLimit::take(const std::string& address, Clock::time_point now, int* retry_after)
{
    // The buckets this request takes from.
    struct Use {
        TokenBuckets* table;
        TokenBuckets::Key key;
    } uses[4];
    int n = 0;
    uses[n++] = {&single_, client_network(address)};
    std::uint8_t bytes[16];
    if (uses[0].key[0] == 6 && inet_pton(AF_INET6, address.c_str(), bytes) == 1) {
        uses[n++] = {&net56_, network(6, 56, bytes)};
        uses[n++] = {&net48_, network(6, 48, bytes)};
    }
    // The network whose share of the whole board this is.
    const TokenBuckets::Key shared = n > 1 ? uses[2].key : uses[0].key;
    std::lock_guard<std::mutex> lock(mutex_);
    double wait = 0;
    for (int i = 0; i < n; i++)
        if (uses[i].table->level(uses[i].key, now) < 1.0)
            wait = std::fmax(wait, uses[i].table->wait(uses[i].key, now));
    Result result = wait > 0 ? address_limited : taken;
    if (result == taken && whole_board_ && share_.level(shared, now) < 1.0) {
        wait = share_.wait(shared, now);
        result = network_limited;
    }
    if (result == taken && whole_board_ && board_.level({}, now) < 1.0) {
        wait = board_.wait({}, now);
        result = board_limited;
    }
    if (result != taken) {
        *retry_after = std::max(1, static_cast<int>(std::ceil(wait)));
        return result;
    }
    for (int i = 0; i < n; i++)
        uses[i].table->take(uses[i].key, now);
    if (whole_board_) {
        share_.take(shared, now);
        board_.take({}, now);
    }
    return taken;
}

void RateLimit::forget_full(Clock::time_point now)
{
    std::lock_guard<std::mutex> lock(mutex_);
    single_.forget_full(now);
    net56_.forget_full(now);
    net48_.forget_full(now);
    share_.forget_full(now);
}

size_t RateLimit::size()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return single_.size() + net56_.size() + net48_.size() + share_.size();
}

TicketLimit::TicketLimit(double per_minute, size_t capacity) : buckets_(per_minute, capacity) {}

bool TicketLimit::take(const std::string& ticket, Clock::time_point now, int* retry_after)
{
    TokenBuckets::Key key{};
    key[0] = 't';
    for (size_t i = 0; i < 16; i++)
        key[2 + i] = static_cast<std::uint8_t>(std::stoi(ticket.substr(2 * i, 2), nullptr, 16));
    std::lock_guard<std::mutex> lock(mutex_);
    if (buckets_.level(key, now) < 1.0) {
        *retry_after = std::max(1, static_cast<int>(std::ceil(buckets_.wait(key, now))));
        return false;
    }
    buckets_.take(key, now);
    return true;
}

void TicketLimit::forget_full(Clock::time_point now)
{
    std::lock_guard<std::mutex> lock(mutex_);
    buckets_.forget_full(now);
}

} // namespace kiv::board
