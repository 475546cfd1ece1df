// Reduction modulo a Mersenne number 2^bits - 1 without division: since
// 2^bits leaves the remainder 1, the high part of a value can be added onto
// its low part until the value fits in bits bits.
#pragma once
#include <cstdint>

namespace kestrav3 {

// 2^bits - 1, formed by doubling 1 bits times and subtracting 1.
constexpr std::uint64_t doubled_minus_one(int bits) {
    std::uint64_t value = 1;
    for (int i = 0; i < bits; ++i) value *= 2;
    return value - 1;
}

// v mod (2^bits - 1) for any 128-bit v, 1 <= bits <= 63.
template <int bits>
constexpr std::uint64_t mersenne_mod(unsigned __int128 v) {
    static_assert(bits >= 1 && bits <= 63);
    constexpr std::uint64_t modulus = doubled_minus_one(bits);
    while ((v >> bits) != 0) v = (v & modulus) + (v >> bits);
    return v == modulus ? 0 : static_cast<std::uint64_t>(v);
}

}  // namespace kestrav3
