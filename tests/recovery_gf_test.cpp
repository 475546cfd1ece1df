// GF(2^16) as PAR 2.0 defines it and CRC-32 as zlib computes it: the field
// laws, values worked out by hand from the modulus 0x1100B, the input slice
// constants the format lists, and the region operations on every path.
#include "recovery/crc32.h"
#include "recovery/gf16.h"

#include "platform/fast_paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace kestrav3::recovery;
using kestrav3::platform::FastPath;
using kestrav3::platform::FastUnit;

// Carry-less product reduced bit by bit modulo 0x1100B: the definition,
// independent of the logarithm tables.
std::uint16_t slow_mul(std::uint16_t a, std::uint16_t b) {
    std::uint32_t product = 0;
    for (int bit = 0; bit < 16; ++bit)
        if (b & (1u << bit)) product ^= static_cast<std::uint32_t>(a) << bit;
    for (int bit = 31; bit >= 16; --bit)
        if (product & (1u << bit)) product ^= gf_generator << (bit - 16);
    return static_cast<std::uint16_t>(product);
}

std::uint16_t slow_pow(std::uint16_t base, std::uint32_t exponent) {
    std::uint16_t result = 1;
    for (; exponent != 0; exponent >>= 1, base = slow_mul(base, base))
        if (exponent & 1) result = slow_mul(result, base);
    return result;
}

TEST(Gf16, ValuesWorkedOutFromTheModulus) {
    // x^16 = x^12 + x^3 + x + 1.
    EXPECT_EQ(gf_mul(0x8000, 2), 0x100B);
    EXPECT_EQ(gf_pow(2, 16), 0x100B);
    // x^17 = x^13 + x^4 + x^2 + x.
    EXPECT_EQ(gf_pow(2, 17), 0x2016);
    // x^15 * x^15 = x^30 = x^14 * x^16 = x^26 + x^17 + x^15 + x^14, and
    // x^26 = x^10 * x^16 = x^22 + x^13 + x^11 + x^10, x^22 = x^6 * x^16 =
    // x^18 + x^9 + x^7 + x^6, x^18 = x^14 + x^5 + x^3 + x^2; the sum cancels to bits 15, 11, 10, 9,
    // 7, 6, 5, 4, 3 and 1.
    EXPECT_EQ(gf_mul(0x8000, 0x8000), 0x8EFA);
    EXPECT_EQ(slow_mul(0x8000, 0x8000), 0x8EFA);
    EXPECT_EQ(gf_mul(3, 3), 5);  // (x + 1)^2 = x^2 + 1
    EXPECT_EQ(gf_mul(0, 0x1234), 0);
    EXPECT_EQ(gf_mul(1, 0x1234), 0x1234);
    // 2 generates the whole group: its order is 65535 and no less.
    EXPECT_EQ(slow_pow(2, 65535), 1);
    for (std::uint32_t divisor : {3u, 5u, 17u, 257u}) EXPECT_NE(slow_pow(2, 65535 / divisor), 1) << divisor;
}

TEST(Gf16, EveryNonzeroElementHasItsInverse) {
    for (std::uint32_t a = 1; a < 65536; ++a) {
        const auto x = static_cast<std::uint16_t>(a);
        const std::uint16_t inverse = gf_inv(x);
        ASSERT_EQ(slow_mul(x, inverse), 1) << a;
        ASSERT_EQ(gf_exp(gf_log(x)), x) << a;
    }
    EXPECT_EQ(gf_inv(0), 0);
    EXPECT_EQ(gf_div(5, 0), 0);
}

TEST(Gf16, ProductsMatchTheDefinitionAndTheFieldLaws) {
    std::mt19937 rng(1100);
    for (int n = 0; n < 200000; ++n) {
        const auto a = static_cast<std::uint16_t>(rng()), b = static_cast<std::uint16_t>(rng()),
                   c = static_cast<std::uint16_t>(rng());
        ASSERT_EQ(gf_mul(a, b), slow_mul(a, b)) << a << " " << b;
        ASSERT_EQ(gf_mul(a, b), gf_mul(b, a));
        ASSERT_EQ(gf_mul(a, gf_mul(b, c)), gf_mul(gf_mul(a, b), c));
        ASSERT_EQ(gf_mul(a, b ^ c), gf_mul(a, b) ^ gf_mul(a, c));
        if (b != 0) {
            ASSERT_EQ(gf_mul(gf_div(a, b), b), a);
        }
    }
    // Powers against repeated products, the exponent reduced modulo 65535.
    for (std::uint16_t base :
         {std::uint16_t{0}, std::uint16_t{1}, std::uint16_t{2}, std::uint16_t{0x8001}, std::uint16_t{0xFFFF}}) {
        std::uint16_t power = 1;
        for (std::uint32_t e = 0; e < 300; ++e) {
            ASSERT_EQ(gf_pow(base, e), power) << base << "^" << e;
            power = slow_mul(power, base);
        }
        if (base != 0) {
            EXPECT_EQ(gf_pow(base, 65535 + 7), gf_pow(base, 7));
        }
    }
    EXPECT_EQ(gf_pow(0, 0), 1);
    EXPECT_EQ(gf_pow(0, 65535), 0);
}

TEST(Gf16, InputConstantsAreThePowersTheFormatLists) {
    // The first constants as the format lists them.
    const std::uint16_t listed[] = {2, 4, 16, 128, 256, 2048, 8192, 16384, 4107, 32856, 17132};
    for (std::uint32_t i = 0; i < sizeof listed / sizeof listed[0]; ++i) EXPECT_EQ(input_constant(i), listed[i]) << i;
    // Every constant generates the group, all 32768 are distinct, and there
    // are no more.
    std::vector<bool> seen(65536);
    for (std::uint32_t i = 0; i < input_constant_count; ++i) {
        const std::uint16_t c = input_constant(i);
        ASSERT_NE(c, 0) << i;
        ASSERT_FALSE(seen[c]) << i;
        seen[c] = true;
        const std::uint16_t n = gf_log(c);
        ASSERT_TRUE(n % 3 != 0 && n % 5 != 0 && n % 17 != 0 && n % 257 != 0) << i;
    }
    EXPECT_EQ(gf_log(input_constant(input_constant_count - 1)), 65534);
    EXPECT_EQ(input_constant(input_constant_count), 0);
}

TEST(Gf16, RecoveryFactorsArePowersOfTheInputConstant) {
    std::uint16_t factors[6];
    recovery_factors(4, 0, 6, factors);
    for (std::uint32_t e = 0; e < 6; ++e) EXPECT_EQ(factors[e], slow_pow(input_constant(4), e)) << e;
    recovery_factors(32767, 65534, 3, factors);
    for (std::uint32_t e = 0; e < 3; ++e) EXPECT_EQ(factors[e], slow_pow(input_constant(32767), 65534 + e)) << e;
    EXPECT_EQ(factors[1], 1);  // the exponent 65535 is 0 again
}

// A matrix of input constants raised to recovery exponents, as a repair
// sets it up, times its inverse is the identity; a zero on the diagonal
// needs a row exchange; repeated rows are singular.
TEST(Gf16, MatricesAreInvertedOrFoundSingular) {
    for (std::size_t n : {1, 2, 3, 8, 25}) {
        std::vector<std::uint16_t> m(n * n);
        for (std::size_t r = 0; r < n; ++r)
            for (std::size_t c = 0; c < n; ++c)
                m[r * n + c] = slow_pow(input_constant(static_cast<std::uint32_t>(3 * c + 1)),
                                        static_cast<std::uint32_t>(r * 2 + 5));
        std::vector<std::uint16_t> inverse = m;
        ASSERT_EQ(gf_invert_matrix(inverse.data(), n), 0) << n;
        for (std::size_t r = 0; r < n; ++r) {
            for (std::size_t c = 0; c < n; ++c) {
                std::uint16_t sum = 0;
                for (std::size_t k = 0; k < n; ++k) sum ^= slow_mul(m[r * n + k], inverse[k * n + c]);
                ASSERT_EQ(sum, r == c ? 1 : 0) << n << ": " << r << "," << c;
            }
        }
    }
    std::uint16_t exchange[] = {0, 3, 7, 0};
    ASSERT_EQ(gf_invert_matrix(exchange, 2), 0);
    EXPECT_EQ(exchange[0], 0);
    EXPECT_EQ(exchange[1], gf_inv(7));
    EXPECT_EQ(exchange[2], gf_inv(3));
    EXPECT_EQ(exchange[3], 0);
    std::uint16_t repeated[] = {1, 2, 3, 4, 5, 6, 4, 5, 6};
    EXPECT_EQ(gf_invert_matrix(repeated, 3), -1);
    std::uint16_t dependent[] = {2, 4, gf_mul(2, 9), gf_mul(4, 9)};  // row 2 = 9 * row 1
    EXPECT_EQ(gf_invert_matrix(dependent, 2), -1);
}

TEST(Crc32, KnownValuesAndPiecesEqualTheWhole) {
    EXPECT_EQ(crc32(0, "123456789", 9), 0xCBF43926u);
    EXPECT_EQ(crc32(0, "", 0), 0u);
    EXPECT_EQ(crc32(0, "a", 1), 0xE8B7BE43u);
    const std::string fox = "The quick brown fox jumps over the lazy dog";
    EXPECT_EQ(crc32(0, fox.data(), fox.size()), 0x414FA339u);
    const std::vector<std::uint8_t> zeros(4096);
    EXPECT_EQ(crc32(0, zeros.data(), 32), 0x190A55ADu);

    std::mt19937 rng(32);
    std::vector<std::uint8_t> data(70001);
    for (auto& b : data) b = static_cast<std::uint8_t>(rng());
    const std::uint32_t whole = crc32(0, data.data(), data.size());
    for (std::size_t cut : {std::size_t{0}, std::size_t{1}, std::size_t{7}, std::size_t{8}, std::size_t{9},
                            std::size_t{4095}, std::size_t{65536}, data.size()}) {
        EXPECT_EQ(crc32(crc32(0, data.data(), cut), data.data() + cut, data.size() - cut), whole) << cut;
    }
    // Any start offset: the same bytes give the same CRC wherever they lie.
    for (std::size_t offset = 1; offset < 16; ++offset) {
        std::vector<std::uint8_t> shifted(offset + 1000);
        std::memcpy(shifted.data() + offset, data.data(), 1000);
        EXPECT_EQ(crc32(0, shifted.data() + offset, 1000), crc32(0, data.data(), 1000)) << offset;
    }
}

// Every CRC path gives the table code's value for every length up to a
// few folding steps and past them, at every offset, started from any CRC.
TEST(Crc32, EveryPathEqualsTheTables) {
    std::mt19937 rng(64);
    std::vector<std::uint8_t> data(100000);
    for (auto& b : data) b = static_cast<std::uint8_t>(rng());
    ASSERT_TRUE(kestrav3::platform::choose_path(FastUnit::crc32, FastPath::reference));
    std::vector<std::uint32_t> expected;
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n < 300; ++n) lengths.push_back(n);
    for (std::size_t n : {1023u, 4096u, 8272u, 65536u, 99990u}) lengths.push_back(n);
    for (std::size_t n : lengths)
        expected.push_back(crc32(static_cast<std::uint32_t>(n * 2654435761u), data.data() + n % 7, n));
    for (FastPath path : {FastPath::pclmul, FastPath::automatic}) {
        if (!kestrav3::platform::choose_path(FastUnit::crc32, path)) continue;
        for (std::size_t i = 0; i < lengths.size(); ++i) {
            const std::size_t n = lengths[i];
            ASSERT_EQ(crc32(static_cast<std::uint32_t>(n * 2654435761u), data.data() + n % 7, n), expected[i])
                << "path " << static_cast<int>(path) << " length " << n;
        }
        EXPECT_EQ(crc32(0, "123456789", 9), 0xCBF43926u);
    }
    kestrav3::platform::choose_path(FastUnit::crc32, FastPath::automatic);
}

// The region operations against the word-by-word definition.
TEST(Gf16Region, ReferenceMatchesWordByWordProducts) {
    std::mt19937 rng(16);
    std::vector<std::uint8_t> src(1002), dst(1002), expected(1002);
    for (auto& b : src) b = static_cast<std::uint8_t>(rng());
    for (auto& b : dst) b = static_cast<std::uint8_t>(rng());
    for (std::uint16_t factor : {std::uint16_t{0}, std::uint16_t{1}, std::uint16_t{2}, std::uint16_t{0xABCD}}) {
        for (std::size_t i = 0; i < src.size(); i += 2) {
            const std::uint16_t w = slow_mul(factor, static_cast<std::uint16_t>(src[i] | src[i + 1] << 8));
            expected[i] = static_cast<std::uint8_t>(dst[i] ^ w);
            expected[i + 1] = static_cast<std::uint8_t>(dst[i + 1] ^ (w >> 8));
        }
        std::vector<std::uint8_t> out = dst;
        gf_mul_add_region(out.data(), src.data(), src.size(), factor);
        EXPECT_EQ(out, expected) << factor;
        gf_mul_region(out.data(), src.data(), src.size(), factor);
        for (std::size_t i = 0; i < out.size(); ++i) expected[i] ^= dst[i];
        EXPECT_EQ(out, expected) << factor;
    }
}

// The region paths this machine runs, the reference first.
std::vector<FastPath> region_paths() {
    std::vector<FastPath> paths;
    for (FastPath p : {FastPath::reference, FastPath::ssse3, FastPath::avx2, FastPath::avx512, FastPath::avx2_gfni,
                       FastPath::avx512_gfni})
        if (kestrav3::platform::path_possible(FastUnit::gf16_region, p)) paths.push_back(p);
    return paths;
}

struct RegionPathGuard {
    ~RegionPathGuard() { kestrav3::platform::choose_path(FastUnit::gf16_region, FastPath::automatic); }
};

// What dst ^= factor * src (or dst = factor * src) must give, word by word.
std::vector<std::uint8_t> expected_region(const std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes,
                                          std::uint16_t factor, bool add) {
    std::vector<std::uint8_t> out(dst, dst + bytes);
    for (std::size_t i = 0; i + 1 < bytes; i += 2) {
        const std::uint16_t w = gf_mul(factor, static_cast<std::uint16_t>(src[i] | src[i + 1] << 8));
        out[i] = static_cast<std::uint8_t>((add ? out[i] : 0) ^ w);
        out[i + 1] = static_cast<std::uint8_t>((add ? out[i + 1] : 0) ^ (w >> 8));
    }
    return out;
}

std::vector<std::uint8_t> random_bytes(std::mt19937& rng, std::size_t size) {
    std::vector<std::uint8_t> v(size);
    for (auto& b : v) b = static_cast<std::uint8_t>(rng());
    return v;
}

const std::size_t region_lengths[] = {0,   2,   14,  16,  18,  30,   32,   34,   62,   64,   66,   126,
                                      128, 130, 190, 254, 256, 1000, 4094, 4096, 4098, 8272, 20002};

// Every path against the word-by-word products: lengths around each
// kernel's step, source and destination at every offset modulo 4 (and so
// misaligned for every vector width), the factors 0, 1, the top bit and
// random ones. Bytes just outside the region stay as they were.
TEST(Gf16Region, EveryPathGivesTheWordByWordProducts) {
    RegionPathGuard guard;
    std::mt19937 rng(0x1100B);
    const std::uint16_t factors[] = {
        0, 1, 2, 0x8000, 0xFFFF, static_cast<std::uint16_t>(rng()), static_cast<std::uint16_t>(rng())};
    const std::vector<std::uint8_t> src_buffer = random_bytes(rng, 20002 + 8);
    const std::vector<std::uint8_t> dst_buffer = random_bytes(rng, 20002 + 8);
    for (FastPath path : region_paths()) {
        ASSERT_TRUE(kestrav3::platform::choose_path(FastUnit::gf16_region, path));
        for (std::size_t bytes : region_lengths) {
            for (std::size_t src_offset = 0; src_offset < 4; ++src_offset) {
                const std::size_t dst_offset = (src_offset * 3 + bytes / 2) % 4;
                for (std::uint16_t factor : factors) {
                    SCOPED_TRACE(::testing::Message()
                                 << "path " << static_cast<int>(path) << " bytes " << bytes << " offsets " << src_offset
                                 << "/" << dst_offset << " factor " << factor);
                    const std::uint8_t* src = src_buffer.data() + src_offset;
                    for (bool add : {true, false}) {
                        std::vector<std::uint8_t> out = dst_buffer;
                        std::uint8_t* dst = out.data() + dst_offset;
                        const std::vector<std::uint8_t> expected = expected_region(dst, src, bytes, factor, add);
                        if (add) {
                            gf_mul_add_region(dst, src, bytes, factor);
                        } else {
                            gf_mul_region(dst, src, bytes, factor);
                        }
                        ASSERT_TRUE(std::equal(expected.begin(), expected.end(), dst)) << (add ? "add" : "mul");
                        ASSERT_TRUE(std::equal(out.begin(), out.begin() + dst_offset, dst_buffer.begin()));
                        ASSERT_TRUE(
                            std::equal(dst + bytes, out.data() + out.size(), dst_buffer.begin() + dst_offset + bytes));
                    }
                    // In place: dst == src.
                    std::vector<std::uint8_t> in_place(src, src + bytes);
                    gf_mul_region(in_place.data(), in_place.data(), bytes, factor);
                    ASSERT_EQ(in_place, expected_region(src, src, bytes, factor, false));
                }
            }
        }
    }
}

// An odd last byte is not half a word: it is left alone on every path.
TEST(Gf16Region, AnOddLastByteIsLeftAlone) {
    RegionPathGuard guard;
    std::mt19937 rng(3);
    const std::vector<std::uint8_t> src = random_bytes(rng, 259), dst = random_bytes(rng, 259);
    for (FastPath path : region_paths()) {
        ASSERT_TRUE(kestrav3::platform::choose_path(FastUnit::gf16_region, path));
        std::vector<std::uint8_t> out = dst;
        gf_mul_add_region(out.data(), src.data(), 259, 0x1234);
        EXPECT_EQ(out[258], dst[258]) << static_cast<int>(path);
        EXPECT_TRUE(std::equal(out.begin(), out.begin() + 258,
                               expected_region(dst.data(), src.data(), 258, 0x1234, true).begin()));
        gf_mul_region(out.data(), src.data(), 259, 0);
        EXPECT_EQ(out[258], dst[258]) << static_cast<int>(path);
    }
}

// The multi-factor form equals one region multiply-add per factor: counts
// below, at and past a group of factors, lengths below and past a piece of
// the source, zero factors among the others, destinations misaligned.
TEST(Gf16Region, ManyFactorsAtOnceEqualOneAtATime) {
    RegionPathGuard guard;
    std::mt19937 rng(5);
    for (FastPath path : region_paths()) {
        ASSERT_TRUE(kestrav3::platform::choose_path(FastUnit::gf16_region, path));
        for (std::size_t count : {0, 1, 5, 16, 17, 40}) {
            for (std::size_t bytes : {std::size_t{2}, std::size_t{130}, std::size_t{4096}, std::size_t{10002}}) {
                SCOPED_TRACE(::testing::Message()
                             << "path " << static_cast<int>(path) << " count " << count << " bytes " << bytes);
                const std::vector<std::uint8_t> src_buffer = random_bytes(rng, bytes + 1);
                const std::uint8_t* src = src_buffer.data() + 1;
                std::vector<std::vector<std::uint8_t>> outs, expected;
                std::vector<std::uint8_t*> dst;
                std::vector<std::uint16_t> factors;
                for (std::size_t j = 0; j < count; ++j) {
                    outs.push_back(random_bytes(rng, bytes + j % 3));
                    dst.push_back(outs.back().data() + j % 3);
                    factors.push_back(j % 7 == 3 ? 0 : static_cast<std::uint16_t>(rng()));
                    expected.push_back(expected_region(dst.back(), src, bytes, factors.back(), true));
                }
                gf_mul_add_multi(dst.data(), factors.data(), count, src, bytes);
                for (std::size_t j = 0; j < count; ++j)
                    ASSERT_TRUE(std::equal(expected[j].begin(), expected[j].end(), dst[j])) << j;
            }
        }
    }
}

// The many-source form equals one region multiply-add per factor and
// source: sources and destinations from one to more than a batch, lengths
// below and past a piece, an odd length, zero factors, misaligned regions.
TEST(Gf16Region, ManySourcesAtOnceEqualOneAtATime) {
    RegionPathGuard guard;
    std::mt19937 rng(6);
    for (FastPath path : region_paths()) {
        ASSERT_TRUE(kestrav3::platform::choose_path(FastUnit::gf16_region, path));
        for (std::size_t count : {1, 3, 13}) {
            for (std::size_t sources : {1, 2, 9}) {
                for (std::size_t bytes : {std::size_t{2}, std::size_t{131}, std::size_t{4096}, std::size_t{10002}}) {
                    SCOPED_TRACE(::testing::Message() << "path " << static_cast<int>(path) << " count " << count
                                                      << " sources " << sources << " bytes " << bytes);
                    std::vector<std::vector<std::uint8_t>> inputs, outs, expected;
                    std::vector<const std::uint8_t*> src;
                    std::vector<std::uint8_t*> dst;
                    for (std::size_t s = 0; s < sources; ++s) {
                        inputs.push_back(random_bytes(rng, bytes + s % 3));
                        src.push_back(inputs.back().data() + s % 3);
                    }
                    std::vector<std::uint16_t> factors(count * sources);
                    for (std::size_t k = 0; k < factors.size(); ++k)
                        factors[k] = k % 5 == 2 ? 0 : static_cast<std::uint16_t>(rng());
                    for (std::size_t j = 0; j < count; ++j) {
                        outs.push_back(random_bytes(rng, bytes + 2 + j % 2));
                        dst.push_back(outs.back().data() + 1 + j % 2);
                        std::vector<std::uint8_t> want(dst.back(), dst.back() + bytes);
                        for (std::size_t s = 0; s < sources; ++s)
                            want = expected_region(want.data(), src[s], bytes, factors[j * sources + s], true);
                        expected.push_back(want);
                    }
                    gf_mul_add_sources(dst.data(), count, src.data(), sources, factors.data(), bytes);
                    for (std::size_t j = 0; j < count; ++j) {
                        ASSERT_TRUE(std::equal(expected[j].begin(), expected[j].end(), dst[j])) << j;
                        EXPECT_EQ(outs[j].back(), dst[j][bytes]) << "past the end, " << j;
                    }
                }
            }
        }
    }
}

// Recovery data built with the region products solves for lost slices: two
// slices of three are rebuilt from two recovery slices (exponents 0 and 1)
// by inverting the 2x2 matrix of constants, as a repair does.
TEST(Gf16Region, TwoLostSlicesAreRebuiltFromTwoRecoverySlices) {
    std::mt19937 rng(2);
    const std::size_t bytes = 1000;
    std::vector<std::vector<std::uint8_t>> input;
    for (int i = 0; i < 3; ++i) input.push_back(random_bytes(rng, bytes));
    std::vector<std::vector<std::uint8_t>> recovery(2, std::vector<std::uint8_t>(bytes));
    for (std::uint32_t e = 0; e < 2; ++e)
        for (std::uint32_t i = 0; i < 3; ++i)
            gf_mul_add_region(recovery[e].data(), input[i].data(), bytes, gf_pow(input_constant(i), e));
    // Slices 0 and 2 lost: subtract slice 1's share, then solve
    //   r0 = a + b, r1 = c0 a + c2 b.
    for (std::uint32_t e = 0; e < 2; ++e)
        gf_mul_add_region(recovery[e].data(), input[1].data(), bytes, gf_pow(input_constant(1), e));
    const std::uint16_t c0 = input_constant(0), c2 = input_constant(2);
    const std::uint16_t det_inv = gf_inv(c0 ^ c2);
    // a = (c2 r0 + r1) / (c0 + c2), b = (c0 r0 + r1) / (c0 + c2).
    std::vector<std::uint8_t> a(bytes), b(bytes);
    gf_mul_region(a.data(), recovery[0].data(), bytes, gf_mul(c2, det_inv));
    gf_mul_add_region(a.data(), recovery[1].data(), bytes, det_inv);
    gf_mul_region(b.data(), recovery[0].data(), bytes, gf_mul(c0, det_inv));
    gf_mul_add_region(b.data(), recovery[1].data(), bytes, det_inv);
    EXPECT_EQ(a, input[0]);
    EXPECT_EQ(b, input[2]);
}

}  // namespace
