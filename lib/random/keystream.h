// The deterministic key stream behind the key matrix: a power generator
// modulo 239582517375821 keeping 32 bits of state.
#pragma once
#include <cstdint>

namespace kestrav3 {

// The generator's whole state, per run: set by RSA_srand, advanced by RSA_rand.
extern std::int32_t init_seed;

// Restarts the stream from seed (the 32-bit seed folded from the key).
void RSA_srand(std::int32_t seed);
// Next state: (x^6 mod 239582517375821) mod 2^32, x the state read unsigned.
std::int32_t RSA_rand();

}  // namespace kestrav3
