// glibc's srand and rand run step by step, as the tests' yardstick for the
// direct form of the first rand() that the fast-noise seeding uses.
#pragma once
#include <cstdint>

namespace kestrav3 {

// The first rand() after srand(seed) on glibc: 31 words seeded with 16807
// steps, 310 outputs of the additive generator discarded, the next one
// returned.
std::uint32_t reference_first_rand(std::uint32_t seed);

}  // namespace kestrav3
