// The first rand() after srand(seed), without running the C library's
// seeding. glibc's srand fills a 31-word additive generator and discards 310
// outputs before the first one it returns; that first output is a fixed
// linear combination of the 31 seeded words, so it can be formed directly.
// The fast-noise seeding asks for it on every pass.
#pragma once
#include <cstdint>

namespace kestrav3 {

// What srand(seed) followed by rand() returns on this runtime. Uses the
// direct form only where it was checked against the runtime itself at first
// use; elsewhere (other C libraries, or with the reference path of
// platform::FastUnit::first_rand chosen) it calls the runtime. The avx512
// path forms batches of eight seeds in vectors.
std::uint32_t first_rand_after(std::uint32_t seed);
// first_rand_after for count seeds, in order; side by side where the
// processor allows.
void first_rands_after(const std::uint32_t* seeds, int count, std::uint32_t* out);

// Whether first_rand_after uses the direct form on the chosen path.
bool first_rand_direct_form_in_use();

}  // namespace kestrav3
