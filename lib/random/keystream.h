// The deterministic key stream behind the key matrix: a power generator
// modulo 239582517375821 keeping 32 bits of state.
#pragma once
#include <cstdint>

namespace kestrav3 {

extern std::int32_t init_seed;

void RSA_srand(std::int32_t seed);
// Next state: (x^6 mod 239582517375821) mod 2^32, x the state read unsigned.
std::int32_t RSA_rand();
// The same step done the slow way, on decimal strings; RSA_rand must agree.
std::int32_t RSA_rand_decimal();

}  // namespace kestrav3
