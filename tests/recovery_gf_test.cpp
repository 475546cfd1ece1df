// GF(2^16) as PAR 2.0 defines it and CRC-32 as zlib computes it: the field
// laws, values worked out by hand from the modulus 0x1100B, the input slice
// constants the format lists, and the region operations on every path.
#include "recovery/crc32.h"
#include "recovery/gf16.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace kestrav3::recovery;

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

}  // namespace
