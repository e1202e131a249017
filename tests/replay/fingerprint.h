// A running hash of the game's records after every step, with the effect
// requests and the state changes: two runs with the same fingerprint went
// through the same states step for step.
#pragma once

#include <cstdint>

namespace kiv {

struct Fingerprint {
    std::uint64_t hash = 1469598103934665603ull;   // FNV-1a 64
    long steps = 0;
    long state_changes = 0;
    long effect_requests[3] = {0, 0, 0};
    int last_state = -1;
};

void add_bytes(Fingerprint& f, const void* data, unsigned long size);
// Folds in the records after one step and takes the step's effect requests
// (clearing them: with sound off nobody else does).
void add_step(Fingerprint& f);

} // namespace kiv
