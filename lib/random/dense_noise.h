// Dense noise: two passes of a nonlinear 64-bit generator per chunk, each
// seeded from RDRAND (or the clock) and the nanosecond real-time clock.
#pragma once
#include <cstdint>

namespace kestrav3 {

// The generator words, per run: seeded at the start of each pass, left as
// the last pass of the last chunk leaves them.
extern std::uint64_t xrnd1, xrnd2;
// The generator's modulus 2^62 - 1, kept as the named global of the
// generator's state although the step uses the constant and nothing reads it.
extern std::uint64_t m62;
// The generator's version text, printed by random_genenerator_version.
extern const char* gen_ver;

// Fresh noise into block[0..n-1]; -1 when n > 4096 or seeding failed.
int noise_gen_dense(std::uint8_t* block, int n);
// Prints " VERSION: <gen_ver>\n".
void random_genenerator_version();

// The pieces below are the generator's own steps, declared for the tests.

// One step: xrnd2 = xrnd1*xrnd2 mod (2^62-1), xrnd1 ^= xrnd2; returns xrnd2.
std::uint64_t prand_true();
// Clock seed from a reading: ns * (seconds text . ns text) mod (2^63-1).
std::uint64_t clock_seed(std::uint64_t seconds, std::uint32_t nanoseconds);
// Verdict on a seeding: 0 only when both readings succeeded and gave two
// different, non-zero seeds; -1 otherwise.
int seed_outcome(int status1, int status2, std::uint64_t s1, std::uint64_t s2);
// A hardware random value into out: 0, or -1 when the processor has no
// RDRAND or ten attempts failed.
int seed_RDRAND(std::uint64_t* out);
// Whether the processor has the RDRAND instruction.
bool check_cpu();

}  // namespace kestrav3
