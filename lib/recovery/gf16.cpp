// GF(2^16) through logarithm tables to base 2 (2 generates the whole
// multiplicative group modulo 0x1100B), the portable region code (two
// 256-entry tables of products per factor, one for each byte of a word) and
// the choice of a region path.
#include "recovery/gf16.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "platform/fast_paths.h"
#include "recovery/gf16_paths.h"

namespace kestrav3::recovery {

namespace {

// exp holds 2^k for k in 0..2*65534, so that the sum of two logarithms needs
// no reduction; log is its inverse on the nonzero elements.
struct LogTables {
    std::vector<std::uint16_t> exp;
    std::vector<std::uint16_t> log;
    LogTables() : exp(2 * gf_group_order), log(gf_group_order + 1) {
        std::uint32_t x = 1;
        for (std::uint32_t k = 0; k < gf_group_order; ++k) {
            exp[k] = exp[k + gf_group_order] = static_cast<std::uint16_t>(x);
            log[x] = static_cast<std::uint16_t>(k);
            x <<= 1;
            if (x & 0x10000) x ^= gf_generator;
        }
    }
};

const LogTables& tables() {
    static const LogTables t;
    return t;
}

// The exponents n (from 1 up) that PAR 2.0 gives its input slices.
const std::vector<std::uint16_t>& constant_exponents() {
    static const std::vector<std::uint16_t> exponents = [] {
        std::vector<std::uint16_t> e;
        e.reserve(input_constant_count);
        for (std::uint32_t n = 1; n < gf_group_order && e.size() < input_constant_count; ++n)
            if (n % 3 != 0 && n % 5 != 0 && n % 17 != 0 && n % 257 != 0) e.push_back(static_cast<std::uint16_t>(n));
        return e;
    }();
    return exponents;
}

}  // namespace

std::uint16_t gf_exp(std::uint32_t exponent) { return tables().exp[exponent % gf_group_order]; }

std::uint16_t gf_log(std::uint16_t a) { return tables().log[a]; }

std::uint16_t gf_mul(std::uint16_t a, std::uint16_t b) {
    if (a == 0 || b == 0) return 0;
    const LogTables& t = tables();
    return t.exp[t.log[a] + t.log[b]];
}

std::uint16_t gf_div(std::uint16_t a, std::uint16_t b) {
    if (a == 0 || b == 0) return 0;
    const LogTables& t = tables();
    return t.exp[t.log[a] + gf_group_order - t.log[b]];
}

std::uint16_t gf_inv(std::uint16_t a) { return gf_div(1, a); }

std::uint16_t gf_pow(std::uint16_t base, std::uint32_t exponent) {
    if (exponent == 0) return 1;
    if (base == 0) return 0;
    const std::uint64_t log = tables().log[base];
    return tables().exp[(log * exponent) % gf_group_order];
}

std::uint16_t input_constant(std::uint32_t index) {
    const auto& exponents = constant_exponents();
    if (index >= exponents.size()) return 0;
    return tables().exp[exponents[index]];
}

void recovery_factors(std::uint32_t input_index, std::uint32_t first_exponent, std::size_t count,
                      std::uint16_t factors[]) {
    const std::uint16_t constant = input_constant(input_index);
    std::uint16_t factor = gf_pow(constant, first_exponent);
    for (std::size_t j = 0; j < count; ++j) {
        factors[j] = factor;
        factor = gf_mul(factor, constant);
    }
}

int gf_invert_matrix(std::uint16_t* matrix, std::size_t n) {
    // The inverse is built beside the matrix: the row operations that turn
    // the matrix into the identity turn the identity into the inverse.
    std::vector<std::uint16_t> inverse(n * n, 0);
    for (std::size_t i = 0; i < n; ++i) inverse[i * n + i] = 1;
    auto row = [n](std::uint16_t* m, std::size_t r) { return m + r * n; };
    for (std::size_t col = 0; col < n; ++col) {
        std::size_t pivot = col;
        while (pivot < n && row(matrix, pivot)[col] == 0) ++pivot;
        if (pivot == n) return -1;
        if (pivot != col) {
            std::swap_ranges(row(matrix, pivot), row(matrix, pivot) + n, row(matrix, col));
            std::swap_ranges(row(inverse.data(), pivot), row(inverse.data(), pivot) + n, row(inverse.data(), col));
        }
        const std::uint16_t scale = gf_inv(row(matrix, col)[col]);
        for (std::size_t c = 0; c < n; ++c) {
            row(matrix, col)[c] = gf_mul(row(matrix, col)[c], scale);
            row(inverse.data(), col)[c] = gf_mul(row(inverse.data(), col)[c], scale);
        }
        for (std::size_t r = 0; r < n; ++r) {
            const std::uint16_t f = row(matrix, r)[col];
            if (r == col || f == 0) continue;
            for (std::size_t c = 0; c < n; ++c) {
                row(matrix, r)[c] ^= gf_mul(f, row(matrix, col)[c]);
                row(inverse.data(), r)[c] ^= gf_mul(f, row(inverse.data(), col)[c]);
            }
        }
    }
    std::copy(inverse.begin(), inverse.end(), matrix);
    return 0;
}

namespace reference {

// The products of factor with every low byte and with every high byte of a
// word; a word's product is the XOR of its two entries.
struct ByteProducts {
    std::array<std::uint16_t, 256> low;
    std::array<std::uint16_t, 256> high;
    explicit ByteProducts(std::uint16_t factor) {
        low[0] = high[0] = 0;
        for (unsigned bit = 0; bit < 8; ++bit) {
            const unsigned step = 1u << bit;
            const std::uint16_t lo = gf_mul(factor, static_cast<std::uint16_t>(step));
            const std::uint16_t hi = gf_mul(factor, static_cast<std::uint16_t>(step << 8));
            for (unsigned i = 0; i < step; ++i) {
                low[step + i] = low[i] ^ lo;
                high[step + i] = high[i] ^ hi;
            }
        }
    }
};

void mul_add(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes, std::uint16_t factor) {
    if (factor == 0) return;
    const ByteProducts p(factor);
    for (std::size_t i = 0; i + 1 < bytes; i += 2) {
        const std::uint16_t w = p.low[src[i]] ^ p.high[src[i + 1]];
        dst[i] ^= static_cast<std::uint8_t>(w);
        dst[i + 1] ^= static_cast<std::uint8_t>(w >> 8);
    }
}

void mul(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes, std::uint16_t factor) {
    const ByteProducts p(factor);
    for (std::size_t i = 0; i + 1 < bytes; i += 2) {
        const std::uint16_t w = p.low[src[i]] ^ p.high[src[i + 1]];
        dst[i] = static_cast<std::uint8_t>(w);
        dst[i + 1] = static_cast<std::uint8_t>(w >> 8);
    }
}

}  // namespace reference

namespace {

using platform::FastPath;
using platform::FastUnit;

// The products of the factor with each of the 16 bits of a word.
std::array<std::uint16_t, 16> bit_products(std::uint16_t factor) {
    std::array<std::uint16_t, 16> p{};
    for (unsigned j = 0; j < 16; ++j) p[j] = gf_mul(factor, static_cast<std::uint16_t>(1u << j));
    return p;
}

// The 8x8 bit matrix of the affine transform that maps byte in_byte (0 low,
// 1 high) of a word to its share of byte out_byte of the product. Row i,
// which says which input bits make output bit i, is byte 7 - i.
std::uint64_t byte_matrix(const std::array<std::uint16_t, 16>& p, unsigned in_byte, unsigned out_byte) {
    std::uint64_t matrix = 0;
    for (unsigned i = 0; i < 8; ++i) {
        std::uint64_t row = 0;
        for (unsigned j = 0; j < 8; ++j)
            row |= static_cast<std::uint64_t>((p[8 * in_byte + j] >> (8 * out_byte + i)) & 1u) << j;
        matrix |= row << (8 * (7 - i));
    }
    return matrix;
}

}  // namespace

FactorTables factor_tables(std::uint16_t factor) {
    const std::array<std::uint16_t, 16> p = bit_products(factor);
    FactorTables t;
    for (unsigned k = 0; k < 4; ++k) {
        for (unsigned j = 0; j < 16; ++j) {
            std::uint16_t product = 0;
            for (unsigned b = 0; b < 4; ++b)
                if (j & (1u << b)) product ^= p[4 * k + b];
            t.low[k][j] = static_cast<std::uint8_t>(product);
            t.high[k][j] = static_cast<std::uint8_t>(product >> 8);
        }
    }
    t.same[0] = byte_matrix(p, 0, 0);
    t.same[1] = byte_matrix(p, 1, 1);
    t.cross[0] = byte_matrix(p, 0, 1);
    t.cross[1] = byte_matrix(p, 1, 0);
    return t;
}

namespace {

// The fastest path this processor runs, in the order the benchmark ranks
// them.
FastPath best_path() {
    static const FastPath best = [] {
        for (FastPath path :
             {FastPath::avx512_gfni, FastPath::avx2_gfni, FastPath::avx512, FastPath::avx2, FastPath::ssse3})
            if (platform::path_possible(FastUnit::gf16_region, path)) return path;
        return FastPath::reference;
    }();
    return best;
}

RegionKernels current_kernels() {
    const FastPath chosen = platform::chosen_path(FastUnit::gf16_region);
    return vector_kernels(chosen == FastPath::automatic ? best_path() : chosen);
}

// The words a kernel left over, one product each.
void finish_mul_add(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes, std::uint16_t factor) {
    for (std::size_t i = 0; i + 1 < bytes; i += 2) {
        const std::uint16_t w = gf_mul(factor, static_cast<std::uint16_t>(src[i] | src[i + 1] << 8));
        dst[i] ^= static_cast<std::uint8_t>(w);
        dst[i + 1] ^= static_cast<std::uint8_t>(w >> 8);
    }
}

void finish_mul(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes, std::uint16_t factor) {
    for (std::size_t i = 0; i + 1 < bytes; i += 2) {
        const std::uint16_t w = gf_mul(factor, static_cast<std::uint16_t>(src[i] | src[i + 1] << 8));
        dst[i] = static_cast<std::uint8_t>(w);
        dst[i + 1] = static_cast<std::uint8_t>(w >> 8);
    }
}

// The multi-factor form walks src in pieces of this size (a multiple of
// every kernel's step) and the factors in groups of this many.
constexpr std::size_t multi_piece = 4096;
constexpr std::size_t multi_group = 16;

}  // namespace

void gf_mul_add_region(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes, std::uint16_t factor) {
    if (factor == 0) return;
    const RegionKernels kernels = current_kernels();
    if (kernels.mul_add == nullptr) {
        reference::mul_add(dst, src, bytes, factor);
        return;
    }
    const std::size_t done = kernels.mul_add(dst, src, bytes, factor_tables(factor));
    finish_mul_add(dst + done, src + done, bytes - done, factor);
}

void gf_mul_region(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes, std::uint16_t factor) {
    // No whole word: nothing to write, and perhaps no buffer for memset.
    if (bytes < 2) return;
    if (factor == 0) {
        std::memset(dst, 0, bytes & ~std::size_t{1});
        return;
    }
    const RegionKernels kernels = current_kernels();
    if (kernels.mul == nullptr) {
        reference::mul(dst, src, bytes, factor);
        return;
    }
    const std::size_t done = kernels.mul(dst, src, bytes, factor_tables(factor));
    finish_mul(dst + done, src + done, bytes - done, factor);
}

void gf_mul_add_multi(std::uint8_t* const dst[], const std::uint16_t factors[], std::size_t count,
                      const std::uint8_t* src, std::size_t bytes) {
    const RegionKernels kernels = current_kernels();
    if (kernels.mul_add == nullptr) {
        for (std::size_t j = 0; j < count; ++j) reference::mul_add(dst[j], src, bytes, factors[j]);
        return;
    }
    bytes &= ~std::size_t{1};
    std::array<FactorTables, multi_group> tables;
    for (std::size_t first = 0; first < count; first += multi_group) {
        const std::size_t group = std::min(multi_group, count - first);
        for (std::size_t j = 0; j < group; ++j) tables[j] = factor_tables(factors[first + j]);
        for (std::size_t offset = 0; offset < bytes; offset += multi_piece) {
            const std::size_t piece = std::min(multi_piece, bytes - offset);
            for (std::size_t j = 0; j < group; ++j) {
                if (factors[first + j] == 0) continue;
                std::uint8_t* out = dst[first + j] + offset;
                const std::size_t done = kernels.mul_add(out, src + offset, piece, tables[j]);
                finish_mul_add(out + done, src + offset + done, piece - done, factors[first + j]);
            }
        }
    }
}

void gf_mul_add_sources(std::uint8_t* const dst[], std::size_t count, const std::uint8_t* const src[],
                        std::size_t sources, const std::uint16_t factors[], std::size_t bytes) {
    const RegionKernels kernels = current_kernels();
    if (kernels.mul_add == nullptr) {
        for (std::size_t j = 0; j < count; ++j)
            for (std::size_t s = 0; s < sources; ++s)
                reference::mul_add(dst[j], src[s], bytes, factors[j * sources + s]);
        return;
    }
    bytes &= ~std::size_t{1};
    std::vector<FactorTables> tables(count * sources);
    for (std::size_t k = 0; k < count * sources; ++k) tables[k] = factor_tables(factors[k]);
    for (std::size_t offset = 0; offset < bytes; offset += multi_piece) {
        const std::size_t piece = std::min(multi_piece, bytes - offset);
        for (std::size_t j = 0; j < count; ++j) {
            std::uint8_t* out = dst[j] + offset;
            for (std::size_t s = 0; s < sources; ++s) {
                const std::uint16_t factor = factors[j * sources + s];
                if (factor == 0) continue;
                const std::uint8_t* in = src[s] + offset;
                const std::size_t done = kernels.mul_add(out, in, piece, tables[j * sources + s]);
                finish_mul_add(out + done, in + done, piece - done, factor);
            }
        }
    }
}

}  // namespace kestrav3::recovery
