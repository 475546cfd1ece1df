#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "random/dense_noise.h"
#include "reference/slow_generators.h"
#include "transform/transform.h"

using namespace kestrav3;

namespace {

constexpr std::uint64_t m62_value = 4611686018427387903ULL;

// One generator step from the given words; returns the output, leaves the words.
std::uint64_t step(std::uint64_t (*fn)(), std::uint64_t x1, std::uint64_t x2) {
    xrnd1 = x1;
    xrnd2 = x2;
    return fn();
}

bool all_equal(const std::uint8_t* from, const std::uint8_t* to, std::uint8_t v) {
    return std::all_of(from, to, [v](std::uint8_t b) { return b == v; });
}

}  // namespace

TEST(RandomDenseNoise, GeneratorStepFastEqualsDecimal) {
    for (auto fn : {prand_true, prand_true_decimal}) {
        EXPECT_EQ(step(fn, 1099511627777ULL, 1099511627779ULL), 4398046773251ULL);  // 2^40+1, 2^40+3
        EXPECT_EQ(xrnd2, 4398046773251ULL);
        EXPECT_EQ(xrnd1, 5497558401026ULL);
        EXPECT_EQ(step(fn, 0, 123456789), 0u);  // a zero word keeps the pass at zero
        EXPECT_EQ(fn(), 0u);
    }
    std::mt19937_64 rng(62);
    const std::uint64_t edges[] = {0, 1, m62_value - 1, m62_value, m62_value + 1, 2 * m62_value, ~0ULL};
    for (int i = 0; i < 100000 + 49; ++i) {
        const std::uint64_t a = i < 49 ? edges[i / 7] : rng() >> (rng() % 8);
        const std::uint64_t b = i < 49 ? edges[i % 7] : rng() >> (rng() % 8);
        const std::uint64_t fast = step(prand_true, a, b), fast_x1 = xrnd1;
        ASSERT_EQ(step(prand_true_decimal, a, b), fast) << a << " * " << b;
        ASSERT_EQ(xrnd1, fast_x1);
        ASSERT_LT(fast, m62_value);
    }
}

TEST(RandomDenseNoise, ClockSeedFastEqualsDecimal) {
    for (auto fn : {clock_seed, clock_seed_decimal}) {
        EXPECT_EQ(fn(1700000000, 123456789), 1888696314930518501ULL);
        EXPECT_EQ(fn(1700000000, 5000), 85000000025000000ULL);  // 5000 * 17000000005000
        EXPECT_EQ(fn(1700000000, 0), 0u);
        // Seconds from 2038 on and beyond 32 bits stay an unsigned decimal.
        EXPECT_EQ(fn(2147483648ULL, 987654321), 3428468201053299904ULL);
        EXPECT_EQ(fn(8589934599ULL, 1), 85899345991ULL);
        EXPECT_EQ(fn(~0ULL, 4294967295U), 6056184793990962183ULL);
    }
    std::mt19937_64 rng(63);
    for (int i = 0; i < 100000; ++i) {
        const std::uint64_t seconds = rng() >> (rng() % 64);
        const auto ns = static_cast<std::uint32_t>(i % 4 == 0 ? 0 : i % 4 == 1 ? rng() : rng() % 1000000000);
        ASSERT_EQ(clock_seed(seconds, ns), clock_seed_decimal(seconds, ns)) << seconds << " s " << ns << " ns";
    }
}

TEST(RandomDenseNoise, SeedingRejectsFailedEqualOrZeroSeeds) {
    EXPECT_EQ(seed_outcome(0, 0, 5, 6), 0);
    EXPECT_EQ(seed_outcome(-1, 0, 5, 6), -1);
    EXPECT_EQ(seed_outcome(0, -1, 5, 6), -1);
    EXPECT_EQ(seed_outcome(0, 0, 7, 7), -1);
    EXPECT_EQ(seed_outcome(0, 0, 0, 6), -1);
    EXPECT_EQ(seed_outcome(0, 0, 5, 0), -1);
    std::uint64_t value = 42;
    EXPECT_EQ(seed_RDRAND(&value) == 0, check_cpu());
}

TEST(RandomDenseNoise, FillsOnlyTheRequestedBytes) {
    vizard.fill(0xA5);
    EXPECT_EQ(noise_gen_dense(vizard.data(), 4097), -1);
    EXPECT_TRUE(all_equal(vizard.begin(), vizard.end(), 0xA5));
    ASSERT_EQ(noise_gen_dense(vizard.data(), 101), 0);
    EXPECT_EQ(m62, m62_value);
    EXPECT_TRUE(all_equal(vizard.begin() + 101, vizard.end(), 0xA5));
    EXPECT_FALSE(all_equal(vizard.begin(), vizard.begin() + 101, 0xA5));
    vizard.fill(0x5A);
    ASSERT_EQ(noise_gen_dense(vizard.data(), 0), 0);
    EXPECT_TRUE(all_equal(vizard.begin(), vizard.end(), 0x5A));
}

TEST(RandomDenseNoise, FreshNoiseOnEveryCall) {
    ASSERT_EQ(noise_gen_dense(vizard.data(), 4096), 0);
    const auto first = vizard;
    ASSERT_EQ(noise_gen_dense(vizard.data(), 4096), 0);
    EXPECT_NE(vizard, first);
    int even_changes = 0, odd_changes = 0;  // both passes produce varied bytes
    for (int i = 2; i < 4096; ++i) (i % 2 ? odd_changes : even_changes) += vizard[i] != vizard[i - 2];
    EXPECT_GT(even_changes, 1900);
    EXPECT_GT(odd_changes, 1900);
}

TEST(RandomDenseNoise, VersionLine) {
    testing::internal::CaptureStdout();
    random_genenerator_version();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), " VERSION: 0.3 (nonlinear) for WINDOWS 64-bit\n");
}
