#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "random/fast_noise.h"
#include "random/fast_noise_paths.h"
#include "transform/transform.h"

using namespace kestrav3;

namespace {

constexpr std::int64_t m48_value = 281474976710655;
constexpr std::uint64_t multiplier = 25214903917ULL;

std::int64_t from_bits(std::uint64_t bits) {
    std::int64_t v = 0;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

// The step written out plainly: a 128-bit product cut to its low 64 bits,
// read as a signed value, then the language's truncating remainder.
std::int64_t reference_step(std::int64_t s) {
    const auto t = static_cast<unsigned __int128>(static_cast<__int128>(s) * 25214903917 + 11);
    return from_bits(static_cast<std::uint64_t>(t)) % m48_value;
}

// The state whose wrapped product lands on t.
std::int64_t state_for_product(std::uint64_t t) {
    std::uint64_t inverse = multiplier;  // each Newton step doubles the correct low bits
    for (int i = 0; i < 6; ++i) inverse *= 2 - multiplier * inverse;
    return from_bits((t - 11) * inverse);
}

std::vector<std::int64_t> states(std::int64_t seed, int count) {
    srng48(seed);
    std::vector<std::int64_t> out(static_cast<std::size_t>(count));
    for (auto& s : out) s = rngen48();
    return out;
}

std::vector<int> low_bytes(const std::vector<std::int64_t>& v) {
    std::vector<int> out;
    for (auto s : v) out.push_back(static_cast<int>(static_cast<std::uint64_t>(s) & 0xFF));
    return out;
}

}  // namespace

TEST(RandomFastNoise, StatesFromKnownSeeds) {
    const auto from_1 = states(1, 8);
    EXPECT_EQ(from_1, (std::vector<std::int64_t>{25214903928, 206026503514243, 171613090504669, 227115075224536,
                                                 209477361248129, 13276672254619, -172461881153209, 158476805980602}));
    EXPECT_EQ(low_bytes(from_1), (std::vector<int>{0x78, 0x83, 0xDD, 0xD8, 0x81, 0x9B, 0x47, 0xBA}));
    EXPECT_EQ(m48, m48_value);
    const auto from_0 = states(0, 4);
    EXPECT_EQ(from_0, (std::vector<std::int64_t>{11, 277363943098, 11718085212773, 263744588174965}));
    EXPECT_EQ(low_bytes(from_0), (std::vector<int>{0x0B, 0xBA, 0x65, 0x75}));
    // From 169 the first state ends in a zero byte, which a no-zero pass skips.
    const auto from_169 = states(169, 4);
    EXPECT_EQ(from_169[0], 4261318761984);
    EXPECT_EQ(low_bytes(from_169), (std::vector<int>{0x00, 0xE7, 0x2D, 0x4C}));
}

TEST(RandomFastNoise, StepEqualsPlainFormulaOverRandomStates) {
    const auto m = static_cast<std::uint64_t>(m48_value);
    std::vector<std::int64_t> starts = {0, 1, -1, m48_value, -m48_value, INT64_MAX, INT64_MIN};
    for (std::uint64_t t : {std::uint64_t{0}, ~std::uint64_t{0}, std::uint64_t{1} << 63, (std::uint64_t{1} << 63) - 1,
                            m, 0 - m, m + 1, m - 1, m * 32768, 0 - m * 32768})
        starts.push_back(state_for_product(t));  // awkward values of t
    std::mt19937_64 rng(48);
    for (int i = 0; i < 200000; ++i) {
        const std::uint64_t bits = rng() >> (rng() % 64);
        starts.push_back(from_bits(i % 2 ? ~bits : bits));  // negative states of every size, too
    }
    for (std::int64_t s : starts) {
        srng48(s);
        for (int k = 0; k < 4; ++k) {
            s = reference_step(s);
            ASSERT_EQ(rngen48(), s) << "step " << k;
        }
    }
}

TEST(RandomFastNoise, NoZeroBytesWhenAskedAndFreshBlocks) {
    vizard.fill(0);
    for (int call = 0; call < 300; ++call) {
        const auto before = vizard;
        noise_gen_unix(true, vizard.data());
        ASSERT_EQ(std::count(vizard.begin(), vizard.end(), 0), 0) << "call " << call;
        ASSERT_NE(vizard, before) << "call " << call;
    }
    // 4096 uniform bytes hold no zero with a chance of about 1e-7.
    long zeros = 0;
    for (int call = 0; call < 10; ++call) {
        noise_gen_unix(false, vizard.data());
        zeros += std::count(vizard.begin(), vizard.end(), 0);
    }
    EXPECT_GT(zeros, 0);
}

// The clock text is what the formatted print gives, including readings far
// past 2038 and ones too long for the text, which are cut the same way.
TEST(RandomFastNoise, ClockTextIsThePrintedReading) {
    std::mt19937_64 rng(5);
    std::vector<std::pair<std::uint64_t, long>> readings = {{0, 0},
                                                            {1733630000, 5},
                                                            {1733630000, 999999999},
                                                            {4294967296ULL, 100},
                                                            {UINT64_MAX, 999999999},
                                                            {UINT64_MAX, LONG_MIN},
                                                            {12, -7}};
    for (int i = 0; i < 2000; ++i) readings.emplace_back(rng() >> (rng() % 64), static_cast<long>(rng() % 1000000000));
    for (const auto& [seconds, nanoseconds] : readings) {
        std::array<char, 32> want{}, got{};
        std::snprintf(want.data(), want.size(), "%llu%ld", static_cast<unsigned long long>(seconds), nanoseconds);
        got.fill('#');
        clock_text(seconds, nanoseconds, got);
        ASSERT_STREQ(got.data(), want.data()) << seconds << " " << nanoseconds;
    }
}
