// Ways of computing the fast noise, and a seam below the clock seeding, so
// that every way can be compared with the plain one from fixed start states.
#pragma once
#include <array>
#include <cstdint>

namespace kestrav3 {

enum class NoisePath { automatic, scalar, avx2, avx512, avx512_ifma };

// Whether this processor can run the path; automatic and scalar always can.
bool fast_noise_path_supported(NoisePath path);
// The path the public noise functions take from now on; automatic picks the
// fastest one this processor supports. Returns false (and changes nothing)
// for an unsupported path.
bool set_fast_noise_path(NoisePath path);

// Draws past the 2048 of a pass that the lane paths compute ahead, so that a
// pass which skips zero bytes rarely has to be finished one draw at a time.
constexpr int default_noise_margin = 16;
constexpr int max_noise_margin = 64;

// Fills count blocks (at most max_noise_blocks) from 2 * count start states: seeds[2k]
// starts the pass over the even positions of blocks[k], seeds[2k + 1] the
// pass over the odd ones. unix_seed ends as the last pass leaves it. margin
// (0 to max_noise_margin) only changes how the lane paths split their work.
void noise_from_seeds(int a, const std::int64_t* seeds, std::uint8_t* const blocks[], int count, NoisePath path,
                      int margin = default_noise_margin);

// The first `length` bytes (1 to 4096, rounded up to even) of what the plain
// path fills from the same seeds: each pass makes only its first length / 2
// draws, and unix_seed ends where the last of them leaves it.
void noise_prefix_from_seeds(int a, const std::int64_t* seeds, std::uint8_t* const blocks[], int count, int length);

// The text a clock reading is hashed from: the seconds as an unsigned
// decimal followed by the nanoseconds without leading zeros, at most 31
// characters.
void clock_text(std::uint64_t seconds, long nanoseconds, std::array<char, 32>& text);

}  // namespace kestrav3
