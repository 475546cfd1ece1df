// What the region paths share inside lib/recovery: the coefficients of one
// factor in the forms the vector kernels use, and the kernels of each path.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/fast_paths.h"

namespace kestrav3::recovery {

// The coefficients of multiplying by one factor.
struct FactorTables {
    // For the byte shuffle: entry j of table k is the product of the factor
    // and j << 4k (nibble k of a word), split into its low and high byte.
    alignas(16) std::uint8_t low[4][16];
    alignas(16) std::uint8_t high[4][16];
    // For the affine transform, on a 128-bit lane that holds the 8 low bytes
    // of 8 words in its first half and their 8 high bytes in its second:
    // `same` maps low bytes to the product's low bytes and high bytes to its
    // high bytes; `cross` maps low bytes to high and high bytes to low.
    alignas(16) std::uint64_t same[2];
    alignas(16) std::uint64_t cross[2];
};

FactorTables factor_tables(std::uint16_t factor);

// A kernel works on the longest whole number of its steps (16 to 128 bytes)
// that fits in bytes and returns how many bytes it did; the caller finishes
// the rest.
using RegionKernel = std::size_t (*)(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes,
                                     const FactorTables& tables);

struct RegionKernels {
    RegionKernel mul_add;  // dst ^= factor * src
    RegionKernel mul;      // dst = factor * src
};

// The kernels of a vector path; both null for the reference path and for
// paths this build does not have.
RegionKernels vector_kernels(platform::FastPath path);

}  // namespace kestrav3::recovery
