// Running hashes of a game: of the records and the effect requests after
// every step, and of the pictures drawn. Two runs with the same fingerprint
// went through the same states and drew the same frames.
#pragma once

#include <cstdint>

namespace kiv {

struct Fingerprint {
    std::uint64_t hash = 1469598103934665603ull;      // FNV-1a 64 over the records
    std::uint64_t screens = 1469598103934665603ull;   // over sampled frames
    long steps = 0;
    long frames = 0;
};

// Folds in the records after one step and takes the step's effect requests
// (effect_requested_in_step, which it clears).
void add_step(Fingerprint& f);
// Counts a drawn frame and folds in every sixteenth screen.
void add_frame(Fingerprint& f);

} // namespace kiv
