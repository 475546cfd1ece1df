#include "random/keystream.h"

namespace kestrav3 {

std::int32_t init_seed = 0;

namespace {

// 15471257 * 15485653: 48 bits, so every residue times a residue fits 96 bits.
constexpr std::uint64_t key_modulus = 239582517375821ULL;

constexpr std::uint64_t mul_mod(std::uint64_t x, std::uint64_t y) {
    return static_cast<std::uint64_t>(static_cast<unsigned __int128>(x) * y % key_modulus);
}

// x^6 mod the key modulus, as (x^2)^2 * x^2.
constexpr std::uint64_t sixth_power_mod(std::uint32_t x) {
    const std::uint64_t square = static_cast<std::uint64_t>(x) * x % key_modulus;
    return mul_mod(mul_mod(square, square), square);
}

static_assert(sixth_power_mod(12345) == 170742899700987ULL);
static_assert(sixth_power_mod(2) == 64 && sixth_power_mod(64) == (1ULL << 36));

// Stores the low 32 bits of a remainder as the new state and returns it.
std::int32_t next_state(std::uint64_t remainder) {
    init_seed = static_cast<std::int32_t>(static_cast<std::uint32_t>(remainder));
    return init_seed;
}

}  // namespace

void RSA_srand(std::int32_t seed) { init_seed = seed; }

std::int32_t RSA_rand() { return next_state(sixth_power_mod(static_cast<std::uint32_t>(init_seed))); }

}  // namespace kestrav3
