// GF(2^16) through logarithm tables to base 2 (2 generates the whole
// multiplicative group modulo 0x1100B), and the portable region code: two
// 256-entry tables of products per factor, one for each byte of a word.
#include "recovery/gf16.h"

#include <array>
#include <cstring>
#include <vector>

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

void gf_mul_add_region(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes, std::uint16_t factor) {
    reference::mul_add(dst, src, bytes, factor);
}

void gf_mul_region(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes, std::uint16_t factor) {
    reference::mul(dst, src, bytes, factor);
}

void gf_mul_add_multi(std::uint8_t* const dst[], const std::uint16_t factors[], std::size_t count,
                      const std::uint8_t* src, std::size_t bytes) {
    for (std::size_t j = 0; j < count; ++j) gf_mul_add_region(dst[j], src, bytes, factors[j]);
}

}  // namespace kestrav3::recovery
