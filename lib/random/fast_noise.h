// Fast noise: a 48-bit congruential generator, two clock-seeded passes per
// call, refilling all 4096 bytes of vizard.
#pragma once
#include <cstdint>

namespace kestrav3 {

extern std::int64_t unix_seed, m48;

// a == 1: no zero bytes in the noise.
void noise_gen_unix(int a);
// count noise blocks of 4096 bytes (count at most 8), each as one
// noise_gen_unix call would leave vizard, computed side by side for speed.
constexpr int max_noise_blocks = 8;
void noise_gen_unix_many(int a, std::uint8_t* const blocks[], int count);
std::uint32_t non_monotonic_time_function();
void srng48(std::int64_t seed);
// unix_seed = (unix_seed*25214903917 + 11, wrapping) rem (2^48-1), sign of t.
std::int64_t rngen48();
std::int64_t nu_m48();

}  // namespace kestrav3
