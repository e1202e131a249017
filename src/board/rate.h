// Rate limits per client address: a token bucket for each, in memory only.
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <unordered_map>

namespace kiv::board {

class RateLimit {
public:
    using Clock = std::chrono::steady_clock;

    // `per_minute` requests a minute, in bursts of up to as many.
    explicit RateLimit(double per_minute) : per_second_(per_minute / 60.0), burst_(per_minute) {}

    // Takes one token for `address`; when there is none, false with the
    // seconds until there is one.
    bool take(const std::string& address, Clock::time_point now, int* retry_after);

private:
    struct Bucket {
        double tokens;
        Clock::time_point at;
    };
    std::mutex mutex_;
    std::unordered_map<std::string, Bucket> buckets_;
    double per_second_, burst_;
};

} // namespace kiv::board
