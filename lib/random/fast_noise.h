// Fast noise: a 48-bit congruential generator, two clock-seeded passes per
// call, refilling all 4096 bytes of the block it is given.
#pragma once
#include <cstdint>

#include "shared/sizes.h"

namespace kestrav3 {

// The generator's state, per run: seeded at the start of each pass, left as
// the last pass leaves it.
extern std::int64_t unix_seed;
// The generator's modulus 2^48 - 1, set at every seeding and kept as the
// named global of the generator's state although the step uses the constant
// and nothing reads it.
extern std::int64_t m48;

// Refills all of block with fast noise. skip_zero_bytes: draws whose low
// byte is zero are passed over, so the noise holds no zero byte.
void noise_gen_unix(bool skip_zero_bytes, std::uint8_t* block);
// count noise blocks, each as one noise_gen_unix call would fill its block,
// computed side by side for speed. With length below 4096 only the first
// length bytes (rounded up to even) are made: the same first draws of the
// same two passes, for a chunk that uses no more of its refill.
constexpr int max_noise_blocks = 16;
void noise_gen_unix_many(bool skip_zero_bytes, std::uint8_t* const blocks[], int count, int length = BLOCK_SIZE);

// The generator's own steps, declared for the tests and the benchmarks.

// Starts a pass: unix_seed = seed, m48 = 2^48 - 1.
void srng48(std::int64_t seed);
// unix_seed = (unix_seed*25214903917 + 11, wrapping) rem (2^48-1), sign of t.
std::int64_t rngen48();

}  // namespace kestrav3
