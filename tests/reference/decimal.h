// Arithmetic on decimal strings: unsigned integers held as NUL-terminated
// ASCII digits, most significant first, leading zeros allowed. The
// generators of the library compute the same products and remainders in
// 128-bit integers; the slow generator steps (slow_generators.h) built on
// these are what the tests compare them with.
#pragma once
#include <cstdint>

namespace kestrav3 {

// a*b as exactly strlen(a)+strlen(b) digits in a static buffer owned by the
// function (valid until its next call). Both operands are consumed: their
// digit characters are turned into digit values 0..9 in place.
char* multiply(char* a, char* b);
// The same product with a result buffer of its own, for the noise generator.
char* multiply_rnd(char* a, char* b);

// Remainder of the decimal string s by n; n == 0 gives 4294967295.
std::int64_t mod(const char* s, std::int64_t n);
// Remainder of s by n, exact for any n; n == 0 gives all 64 bits set.
std::uint64_t mod_rnd(const char* s, std::uint64_t n);

}  // namespace kestrav3
