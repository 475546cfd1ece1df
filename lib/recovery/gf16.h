// Arithmetic in GF(2^16) as PAR 2.0 recovery data uses it: the field is the
// polynomials over GF(2) modulo x^16 + x^12 + x^3 + x + 1 (0x1100B), addition
// is XOR, and a slice of data is a run of little-endian 16-bit words.
//
// A recovery slice with exponent e is the sum over the input slices i of
// input_constant(i)^e times slice i, word by word; the region operations
// below compute one such term for a whole slice at a time. Their path
// (platform::FastUnit::gf16_region) is chosen from the processor's
// features; tests and benchmarks may pin one:
//   reference    two 256-entry product tables per factor, one word at a time
//   ssse3        PSHUFB nibble tables on 128-bit vectors
//   avx2         PSHUFB nibble tables on 256-bit vectors
//   avx512       PSHUFB nibble tables on 512-bit vectors (AVX-512BW)
//   avx2_gfni    GF2P8AFFINEQB bit matrices on 256-bit vectors
//   avx512_gfni  GF2P8AFFINEQB bit matrices on 512-bit vectors
// Every path gives the same bytes for any length, offset and alignment.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kestrav3::recovery {

// The field's modulus, with the x^16 term.
constexpr std::uint32_t gf_generator = 0x1100B;

// The number of nonzero elements; every nonzero element's order divides it.
constexpr std::uint32_t gf_group_order = 65535;

// The number of input slice constants PAR 2.0 defines, and so the most input
// slices one recovery set can have.
constexpr std::uint32_t input_constant_count = 32768;

// Product, quotient and inverse in the field. Division by 0 and the inverse
// of 0 are undefined in the field; both give 0 here.
std::uint16_t gf_mul(std::uint16_t a, std::uint16_t b);
std::uint16_t gf_div(std::uint16_t a, std::uint16_t b);
std::uint16_t gf_inv(std::uint16_t a);

// base raised to exponent; any base to the power 0 is 1 (0^0 included).
std::uint16_t gf_pow(std::uint16_t base, std::uint32_t exponent);

// 2 raised to exponent, and the exponent of a nonzero element to base 2 (in
// 0..65534; 0 for the element 0, which has none).
std::uint16_t gf_exp(std::uint32_t exponent);
std::uint16_t gf_log(std::uint16_t a);

// The constant of input slice index (counted from 0 over all files of a
// set): the index-th power of 2 whose exponent is divisible by none of 3, 5,
// 17 and 257, so that it generates the whole multiplicative group. 0 (never
// a constant) when index >= input_constant_count.
std::uint16_t input_constant(std::uint32_t index);

// factors[j] = input_constant(input_index)^(first_exponent + j) for j <
// count: what input slice input_index is multiplied by in the recovery
// slices with those exponents.
void recovery_factors(std::uint32_t input_index, std::uint32_t first_exponent, std::size_t count,
                      std::uint16_t factors[]);

// Inverts the n x n matrix (row by row, n * n elements) in place by
// Gauss-Jordan elimination with row exchanges. Returns 0, or -1 when the
// matrix is singular; the matrix is then left in an unspecified state.
int gf_invert_matrix(std::uint16_t* matrix, std::size_t n);

// dst ^= factor * src over bytes / 2 little-endian words. bytes must be even
// (an odd last byte is left alone); dst and src may have any alignment but
// must not overlap unless they are the same region.
void gf_mul_add_region(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes, std::uint16_t factor);

// dst = factor * src, the same way (dst == src multiplies in place).
void gf_mul_region(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes, std::uint16_t factor);

// dst[j] ^= factors[j] * src for j < count: the contribution of one input
// slice to count recovery slices. It is the same as count calls of
// gf_mul_add_region, but walks src in pieces that stay in the first-level
// cache and prepares each piece once for all factors. No dst may overlap src
// or another dst.
void gf_mul_add_multi(std::uint8_t* const dst[], const std::uint16_t factors[], std::size_t count,
                      const std::uint8_t* src, std::size_t bytes);

// dst[j] ^= the sum over s < sources of factors[j * sources + s] * src[s],
// for j < count: the contribution of several input slices to count recovery
// slices. Each piece of a dst is loaded once for all sources while it stays
// in the first-level cache, so that recovery slices too large for the
// caches travel from memory once per sources input slices, not once per
// input slice. No dst may overlap a src or another dst.
void gf_mul_add_sources(std::uint8_t* const dst[], std::size_t count, const std::uint8_t* const src[],
                        std::size_t sources, const std::uint16_t factors[], std::size_t bytes);

}  // namespace kestrav3::recovery
