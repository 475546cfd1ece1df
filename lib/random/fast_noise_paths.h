// A seam below the clock seeding of the fast noise, so that every way of
// computing it (platform::FastUnit::fast_noise: reference, avx2, avx512,
// avx512_ifma) can be compared with the plain one from fixed start states.
// The public noise functions take the path chosen for the unit.
#pragma once
#include <array>
#include <cstdint>

#include "platform/fast_paths.h"

namespace kestrav3 {

// Draws past the 2048 of a pass that the lane paths compute ahead, so that a
// pass which skips zero bytes rarely has to be finished one draw at a time.
constexpr int default_noise_margin = 16;
constexpr int max_noise_margin = 64;

// Fills count blocks (at most max_noise_blocks) from 2 * count start states: seeds[2k]
// starts the pass over the even positions of blocks[k], seeds[2k + 1] the
// pass over the odd ones. unix_seed ends as the last pass leaves it. margin
// (0 to max_noise_margin) only changes how the lane paths split their work.
// A path that is not possible here makes the plain noise.
void noise_from_seeds(bool skip_zero_bytes, const std::int64_t* seeds, std::uint8_t* const blocks[], int count,
                      platform::FastPath path, int margin = default_noise_margin);

// The first `length` bytes (1 to 4096, rounded up to even) of what the plain
// path fills from the same seeds: each pass makes only its first length / 2
// draws, and unix_seed ends where the last of them leaves it.
void noise_prefix_from_seeds(bool skip_zero_bytes, const std::int64_t* seeds, std::uint8_t* const blocks[], int count,
                             int length);

// The text a clock reading is hashed from: the seconds as an unsigned
// decimal followed by the nanoseconds without leading zeros, at most 31
// characters.
void clock_text(std::uint64_t seconds, long nanoseconds, std::array<char, 32>& text);

}  // namespace kestrav3
