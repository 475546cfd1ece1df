// The generator steps of the library done the slow way, on decimal strings,
// as the tests' yardstick for the fast steps the library takes: each must
// agree with its fast form for every state.
#pragma once
#include <cstdint>

namespace kestrav3 {

// RSA_rand's step: the state's sixth power as a decimal text, then its
// remainder by 239582517375821; stores and returns the low 32 bits.
std::int32_t RSA_rand_decimal();

// prand_true's step: xrnd2 = xrnd1 * xrnd2 mod (2^62 - 1), xrnd1 ^= xrnd2;
// returns xrnd2.
std::uint64_t prand_true_decimal();

// clock_seed: ns * (seconds text . ns text) mod (2^63 - 1).
std::uint64_t clock_seed_decimal(std::uint64_t seconds, std::uint32_t nanoseconds);

}  // namespace kestrav3
