// Dense noise: two passes of a nonlinear 64-bit generator per chunk, each
// seeded from RDRAND (or the clock) and the nanosecond real-time clock.
#pragma once
#include <cstdint>

namespace kestrav3 {

extern std::uint64_t xrnd1, xrnd2, m62;
extern const char* gen_ver;

// Fresh noise into block[0..n-1]; -1 when n > 4096 or seeding failed.
int noise_gen_dense(std::uint8_t* block, int n);
int random_block(std::uint8_t* buf, int n);
int init_rnd_true();
int seed_creation(std::uint64_t* s1, std::uint64_t* s2);
// Verdict on a seeding: 0 only when both readings succeeded and gave two
// different, non-zero seeds.
int seed_outcome(int status1, int status2, std::uint64_t s1, std::uint64_t s2);
int seed_RDRAND(std::uint64_t* out);
int check_cpu();
int randoms3(std::uint64_t* out);
int nano_timer(std::uint64_t* out);
void nu_m62();
// One step: xrnd2 = xrnd1*xrnd2 mod (2^62-1), xrnd1 ^= xrnd2; returns xrnd2.
std::uint64_t prand_true();
// The same step done the slow way, on decimal strings; prand_true must agree.
std::uint64_t prand_true_decimal();
// Clock seed from a reading: ns * (seconds text . ns text) mod (2^63-1).
std::uint64_t clock_seed(std::uint64_t seconds, std::uint32_t nanoseconds);
// The same seed computed on decimal strings; clock_seed must agree.
std::uint64_t clock_seed_decimal(std::uint64_t seconds, std::uint32_t nanoseconds);
// Prints " VERSION: <gen_ver>\n".
void random_genenerator_version();

}  // namespace kestrav3
