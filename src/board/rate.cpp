#include "board/rate.h"

#include <cmath>

namespace kiv::board {

namespace {

// Past this many addresses, the full buckets (addresses quiet for a while)
// are forgotten: a full bucket is what a new address gets anyway.
constexpr size_t MAX_ADDRESSES = 100000;

} // namespace

bool RateLimit::take(const std::string& address, Clock::time_point now, int* retry_after)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (buckets_.size() >= MAX_ADDRESSES) {
        for (auto i = buckets_.begin(); i != buckets_.end();) {
            double seconds = std::chrono::duration<double>(now - i->second.at).count();
            i = i->second.tokens + seconds * per_second_ >= burst_ ? buckets_.erase(i) : std::next(i);
        }
        // Too many busy addresses at once: start them all afresh rather
        // than sweep again at the next one.
        if (buckets_.size() >= MAX_ADDRESSES / 2)
            buckets_.clear();
    }
    auto found = buckets_.try_emplace(address, Bucket{burst_, now});
    Bucket& b = found.first->second;
    double seconds = std::chrono::duration<double>(now - b.at).count();
    b.tokens = std::fmin(burst_, b.tokens + seconds * per_second_);
    b.at = now;
    if (b.tokens >= 1.0) {
        b.tokens -= 1.0;
        return true;
    }
    *retry_after = per_second_ > 0 ? static_cast<int>(std::ceil((1.0 - b.tokens) / per_second_)) : 60;
    return false;
}

} // namespace kiv::board
